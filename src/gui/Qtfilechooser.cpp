#include "gui/Qtfilechooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdlib>

#include "gui/Filechoice.h"
#include "gui/Guithread.h"

namespace tolm {

QStringList QtNameFilters(const std::string& filter) {
    QStringList filters;
    for (const TFilterPair& pair : FilterPairs(filter)) {
        const QString description = QString::fromStdString(pair.description).trimmed();
        QString patterns = QString::fromStdString(pair.patterns);
        patterns.replace(';', ' ');
        patterns = patterns.simplified();
        if (patterns.isEmpty()) continue;
        // Qt takes a filter's patterns from its last parenthesised list.
        static const QRegularExpression trailingList(R"(\(([^()]*)\)\s*$)");
        const QRegularExpressionMatch m = trailingList.match(description);
        if (m.hasMatch() && m.captured(1).simplified().compare(patterns, Qt::CaseInsensitive) == 0)
            filters << description;
        else
            filters << (description.isEmpty() ? patterns : description + " (" + patterns + ")");
    }
    return filters;
}

TFileChooser::TFileChooser(QWidget* parent, DialogRunner runner) : parent_(parent), runner_(std::move(runner)) {}

bool TFileChooser::operator()(const TOpenDialog& dialog, std::string& chosenPath) const {
    if (!IsGuiThread())
        return ChooseOnGuiThread(dialog, chosenPath,
                                 [this](const TOpenDialog& settings, std::string& path) { return (*this)(settings, path); });
    if (const char* scripted = std::getenv(kScriptedFileVariable)) {
        if (*scripted == '\0') return false;
        chosenPath = QFileInfo(QString::fromLocal8Bit(scripted)).absoluteFilePath().toStdString();
        return true;
    }

    QFileDialog box(parent_, "Open");
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog matches the patterns without regard to letter case, so
    // "A.BIN" is offered under "*.bin" as on the system the files come from.
    box.setOption(QFileDialog::DontUseNativeDialog);
    const QStringList filters = QtNameFilters(dialog.Filter);
    if (!filters.isEmpty()) box.setNameFilters(filters);
    if (!dialog.FileName.empty()) {
        const QFileInfo previous(QString::fromStdString(dialog.FileName));
        box.setDirectory(previous.absolutePath());
    } else {
        box.setDirectory(QDir::currentPath());
    }

    const bool accepted = runner_ ? runner_(box) : box.exec() == QDialog::Accepted;
    if (!accepted) return false;
    const QStringList files = box.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return false;
    chosenPath = QFileInfo(files.first()).absoluteFilePath().toStdString();
    return true;
}

}  // namespace tolm
