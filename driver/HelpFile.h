#pragma once
// The help file the setup dialog's Help button opens: the first "DUzud*.chm" beside the
// component, looked up when a driver object is created. Needs no user interface, so creating an
// object never loads the dialogs.

#include <string>

namespace quillbox {

// Looks for a help file "DUzud*.chm" in the folder of the component library and remembers the
// first one found (see HelpFilePath); leaves the path as it was when there is none.
void FindHelpFile();
// The same search in `folder`.
void FindHelpFileIn(const std::string& folder);
// Folder of the library (or executable) that holds this code; "" when it cannot be told.
std::string ComponentFolder();
// The help file the setup dialog's Help button opens; "" when none was found.
std::string HelpFilePath();
void SetHelpFilePath(const std::string& path);

}  // namespace quillbox
