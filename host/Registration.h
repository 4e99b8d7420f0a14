#pragma once
// Host side of component registration, as regsvr32 does it: the library is loaded, checked to
// be a Quillbox component, and asked to record itself in the registry store (through its tools
// interface). CreateObject then finds a registered component first.

#include <string>
#include <utility>
#include <vector>

namespace quillbox {

// Path of the component library beside the running executable when there is one, else of the
// component installed with the host library.
std::string DefaultComponentPath();

// Path of the component installed with the host library: Quillbox.adc beside the file the host
// library was loaded from; "" when that file cannot be named.
std::string OwnComponentPath();

// Registers the component at libraryPath (made absolute). On success `progIds` lists the
// identifiers recorded; on failure `error` says why (no such file, not loadable, not a
// Quillbox component, registry store not writable).
bool RegisterComponent(const std::string& libraryPath, std::string& error,
                       std::vector<std::string>* progIds = nullptr);

// Removes the registrations RegisterComponent made, so that hosts find the component beside
// them or installed with the host library again. `removed` gets each identifier that was
// registered, with its library; false with a reason when the store cannot be written.
bool UnregisterComponent(std::string& error,
                         std::vector<std::pair<std::string, std::string>>* removed = nullptr);

// The library registered for progId, or "" when there is none.
std::string RegisteredComponent(const std::string& progId);

}  // namespace quillbox
