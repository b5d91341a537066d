#pragma once
// The file choice behind TOpenDialog: a Qt file dialog with the dialog's
// filters, or a file named in the environment for scripted runs
// (TOLM_UPGRADE_OPEN_FILE, Filechoice.h).
//
// Called on the form thread, the dialog is shown by the GUI thread while the
// form thread waits for the choice.
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>

#include "gui/Filechoice.h"
#include "toolkit/Controls.h"

class QFileDialog;

namespace tolm {

// Qt name filters for a filter text of "description|pattern|..." pairs
// ("Tolm Firmware File (*.Bin)|*.bin" gives "Tolm Firmware File (*.Bin)").
// A description that already ends in its own pattern list (letter case aside)
// is kept as it is; otherwise the patterns are appended in parentheses.
// Several patterns of one pair ("*.bin;*.hex") become a blank-separated list.
QStringList QtNameFilters(const std::string& filter);

class TFileChooser {
public:
    static constexpr const char* kScriptedFileVariable = tolm::kScriptedFileVariable;

    // Shows the prepared dialog; true when the operator accepted a file.
    using DialogRunner = std::function<bool(QFileDialog&)>;

    // The dialog is modal over parent (may be null). runner replaces exec()
    // for tests.
    explicit TFileChooser(QWidget* parent, DialogRunner runner = {});

    // The TOpenDialog chooser.
    bool operator()(const TOpenDialog& dialog, std::string& chosenPath) const;

private:
    QPointer<QWidget> parent_;
    DialogRunner runner_;
};

}  // namespace tolm
