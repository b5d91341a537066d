// The services the window lends the form: message boxes and the file choice.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "TestSupport.h"
#include "gui/Qtfilechooser.h"
#include "gui/Qtmessageboxsink.h"
#include "toolkit/Messages.h"

namespace tolm::test {
namespace {

const char* const kFormFilter = "Tolm Firmware File (*.Bin)|*.bin|Tolm Font File(*.Fon)|*.fon";

struct ShownBox {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
};

TEST(MessageBoxSink, ShowsTextCaptionAndIconWithAnOkButton) {
    std::vector<ShownBox> shown;
    auto sink = std::make_shared<TMessageBoxSink>([&shown](QMessageBox& box) {
        shown.push_back({box.text(), box.windowTitle(), box.icon(), box.standardButtons(), box.textFormat()});
    });
    auto previous = InstallMessageSink(sink);
    ShowMessage("沒有發現Bin檔案");
    MessageBox("【功能操作錯誤】『Quorin_Upgrade』:x", "Tolm", TMsgIcon::Information);
    MessageBox("<i>bad</i>", "Tolm", TMsgIcon::Error);
    InstallMessageSink(previous);

    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, QString::fromUtf8("沒有發現Bin檔案"));
    EXPECT_EQ(shown[0].title, QString("Tolm Upgrade"));  // the application title
    EXPECT_EQ(shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(shown[1].title, QString("Tolm"));
    EXPECT_EQ(shown[1].icon, QMessageBox::Information);
    EXPECT_EQ(shown[1].text, QString::fromUtf8("【功能操作錯誤】『Quorin_Upgrade』:x"));
    EXPECT_EQ(shown[2].icon, QMessageBox::Critical);
    EXPECT_EQ(shown[2].format, Qt::PlainText);
}

TEST(FileChooser, NameFiltersComeFromTheFilterText) {
    EXPECT_EQ(QtNameFilters(kFormFilter), QStringList({"Tolm Firmware File (*.Bin)", "Tolm Font File(*.Fon)"}));
    EXPECT_EQ(QtNameFilters("Logs|*.txt;*.log"), QStringList({"Logs (*.txt *.log)"}));
    EXPECT_EQ(QtNameFilters("Text (*.doc)|*.txt"), QStringList({"Text (*.doc) (*.txt)"}));
    EXPECT_EQ(QtNameFilters("All|*.*|Dangling"), QStringList({"All (*.*)"}));
    EXPECT_TRUE(QtNameFilters("").isEmpty());
}

// Lists the files the dialog offers in dir under its current filter.
std::set<QString> OfferedFiles(QFileDialog& dialog, const QString& dir) {
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!model) return {};
    const QModelIndex folder = model->index(dir);
    PumpUntil([&] { return model->rowCount(folder) > 0 && !model->canFetchMore(folder); }, 5000);
    Pump(100);
    std::set<QString> names;
    for (int row = 0; row < model->rowCount(folder); ++row) names.insert(model->index(row, 0, folder).data().toString());
    return names;
}

TEST(FileChooser, DialogOffersBothFiltersInAnyLetterCase) {
    TempDir dir;
    for (const char* name : {"a.bin", "B.BIN", "c.Bin", "d.fon", "E.FON", "f.txt", "gbin"}) dir.Write(name, "x");
    const QString folder = QString::fromStdString(dir.Path());

    TOpenDialog open;
    open.Filter = kFormFilter;
    open.FileName = dir.File("previous.bin");
    std::set<QString> firmware, fonts;
    TFileChooser chooser(nullptr, [&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.nameFilters(), QStringList({"Tolm Firmware File (*.Bin)", "Tolm Font File(*.Fon)"}));
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog.directory().absolutePath(), folder);
        firmware = OfferedFiles(dialog, folder);
        dialog.selectNameFilter(dialog.nameFilters()[1]);
        fonts = OfferedFiles(dialog, folder);
        dialog.selectFile(folder + "/E.FON");
        return true;
    });
    open.SetChooser(chooser);
    ASSERT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName, dir.File("E.FON"));
    EXPECT_EQ(firmware, std::set<QString>({"a.bin", "B.BIN", "c.Bin"}));
    EXPECT_EQ(fonts, std::set<QString>({"d.fon", "E.FON"}));
}

TEST(FileChooser, CancelLeavesTheFileName) {
    TOpenDialog open;
    open.Filter = kFormFilter;
    open.FileName = "/earlier/A.BIN";
    open.SetChooser(TFileChooser(nullptr, [](QFileDialog&) { return false; }));
    EXPECT_FALSE(open.Execute());
    EXPECT_EQ(open.FileName, "/earlier/A.BIN");
}

TEST(FileChooser, ScriptedFileSkipsTheDialog) {
    TempDir dir;
    dir.Write("fw.bin", "x");
    int dialogs = 0;
    TOpenDialog open;
    open.SetChooser(TFileChooser(nullptr, [&](QFileDialog&) {
        ++dialogs;
        return false;
    }));

    setenv(TFileChooser::kScriptedFileVariable, dir.File("fw.bin").c_str(), 1);
    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName, dir.File("fw.bin"));

    // A relative path is made absolute, as the dialog's paths are.
    const std::string cwd = std::filesystem::current_path().string();
    setenv(TFileChooser::kScriptedFileVariable, "sub/fw.bin", 1);
    EXPECT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName, cwd + "/sub/fw.bin");

    // Empty: the operator cancelled.
    setenv(TFileChooser::kScriptedFileVariable, "", 1);
    EXPECT_FALSE(open.Execute());
    unsetenv(TFileChooser::kScriptedFileVariable);
    EXPECT_EQ(dialogs, 0);
}

}  // namespace
}  // namespace tolm::test
