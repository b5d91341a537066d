#pragma once
// What the file choice of every front end shares: the variable that scripts
// a choice without a dialog, and the pairs of the dialog's filter text.
//
// TOLM_UPGRADE_OPEN_FILE: when set, no dialog opens. A path makes the choice
// return that file (made absolute); an empty value makes it a cancel. The
// screenshot script, the window tests and unattended demonstrations use it.
#include <string>
#include <vector>

namespace tolm {

constexpr const char* kScriptedFileVariable = "TOLM_UPGRADE_OPEN_FILE";

struct TFilterPair {
    std::string description;  // "Tolm Firmware File (*.Bin)"
    std::string patterns;     // "*.bin", or several joined by ";"
};

// The pairs of a filter text "description|patterns|description|patterns";
// a description without its patterns at the end is left out.
std::vector<TFilterPair> FilterPairs(const std::string& filter);

}  // namespace tolm
