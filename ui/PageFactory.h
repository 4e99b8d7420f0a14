#pragma once
// Creates setup pages from their programmatic identifiers ("Quillbox.ucGeneral", ...), as the
// dialog asks for them.

#include <functional>
#include <string>

class QWidget;

namespace quillbox {

struct DriverState;
class SetupPage;

using PageCreator = std::function<SetupPage*(QWidget* parent, DriverState& state)>;

// Registers (or, with an empty creator, removes) the page served under `progId`.
void RegisterPage(const std::string& progId, PageCreator creator);
// The creator registered under `progId`, empty when none.
PageCreator RegisteredPage(const std::string& progId);
// A new page as a child of `parent`, or null when no page of that identifier exists or its
// creation failed.
SetupPage* CreatePage(const std::string& progId, QWidget* parent, DriverState& state);

}  // namespace quillbox
