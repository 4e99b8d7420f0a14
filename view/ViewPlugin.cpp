// The plug-in's entry: the table of what the quillbox command calls of the scope and the plots.

#include "quillbox/ViewPlugin.h"

#include "view/Plot.h"
#include "view/ScopeWindow.h"

namespace quillbox::view {
namespace {

constexpr ViewPlugin kPlugin{
    .abi = kViewPluginAbi,
    .scope = &RunScope,
    .plot = &RunPlot,
};

}  // namespace
}  // namespace quillbox::view

extern "C" __attribute__((visibility("default"))) const quillbox::view::ViewPlugin*
QuillboxViewPlugin() {
  return &quillbox::view::kPlugin;
}
