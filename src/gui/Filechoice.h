#pragma once
// What the file choice of every front end shares: the variable that scripts
// a choice without a dialog, and the pairs of the dialog's filter text.
//
// TOLM_UPGRADE_OPEN_FILE: when set, no dialog opens. A path makes the choice
// return that file (made absolute); an empty value makes it a cancel. The
// screenshot script, the window tests and unattended demonstrations use it.
#include <functional>
#include <string>
#include <vector>

#include "toolkit/Controls.h"

namespace tolm {

constexpr const char* kScriptedFileVariable = "TOLM_UPGRADE_OPEN_FILE";

struct TFilterPair {
    std::string description;  // "Tolm Firmware File (*.Bin)"
    std::string patterns;     // "*.bin", or several joined by ";"
};

// The pairs of a filter text "description|patterns|description|patterns";
// a description without its patterns at the end is left out.
std::vector<TFilterPair> FilterPairs(const std::string& filter);

// Runs choose on the GUI thread and waits for the choice. Called on the form
// thread, the dialog's settings are copied there first, so that the GUI
// thread never reads the form's live dialog; on the GUI thread it runs at once.
bool ChooseOnGuiThread(const TOpenDialog& dialog, std::string& chosenPath,
                       const std::function<bool(const TOpenDialog&, std::string&)>& choose);

}  // namespace tolm
