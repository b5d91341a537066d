#include "app/Unit1.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/Strfunc.h"
#include "platform/Portaccess.h"
#include "platform/Portmap.h"
#include "platform/Serialsettings.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"
#include "serial/Portnumbers.h"
#include "toolkit/Event.h"
#include "toolkit/Exception.h"
#include "toolkit/Files.h"
#include "toolkit/Messages.h"

namespace tolm {

namespace {
constexpr const char* kScanSettings = "115200,n,8,1";
constexpr const char* kTerminalSettings = "38400,n,8,1";
constexpr int32_t kOneImageLength = 263168;
constexpr int32_t kTwoImageLength = 526336;
constexpr const char* kNoFirmwareFile = "沒有選擇 Firmware 檔案";
constexpr const char* kSystemMistake = "warning .. The mistake  to occur system";
constexpr const char* kScanErrorBox = "【Operation mistake of the function】『Scan_TID_Upgrade』:";
constexpr const char* kTerminalErrorBox = "【功能操作錯誤】『Quorin_Upgrade』:";

std::string UpperLastFour(const std::string& path) {
    std::string tail = path.size() > 4 ? path.substr(path.size() - 4) : path;
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::toupper(c); });
    return tail;
}

// E001; when the port's permissions refused the open, a second line names the
// device, its group and how to get access.
std::string OpenFailedMessage(int port, int error) {
    std::string text = "E001: Warn ComPort to be unable to open";
    const std::string hint = PortAccessHint(PortMap::DevicePath(port), error);
    if (!hint.empty()) text += "\n" + hint;
    return text;
}

std::string ClosedNote(int port) { return "Com Port己成功關閉Com[ " + std::to_string(port) + " ]"; }

std::string Firmware(const std::string& code) { return code + " Firmware dons not support this model"; }
}  // namespace

TForm1::TForm1() {
    PlaceControls();
    TolmSerialComm1.SetSettings(kScanSettings);
    TolmSerialComm1.OnReceiveData = [this](TReceivePacket* packet) { TolmSerialComm1ReceiveData(packet); };
    Docking_Times.SetInterval(1000);
    Docking_Times.SetEnabled(false);
    Docking_Times.OnTimer = [this] { RunEvent([this] { Docking_TimesTimer(); }); };
    FormCreate();
}

TForm1::~TForm1() {
    Docking_Times.SetEnabled(false);
    // Nothing is sent to a device on exit; the serial component closes its ports.
    TolmSerialComm1.OnReceiveData = nullptr;
    if (RawPortHandle) RawPortHandle->Close();
}

void TForm1::PlaceControls() {
    Form.SetBounds(0, 0, 413, 116);
    Panel1.SetBounds(1, 2, 409, 113);
    Path.SetBounds(8, 8, 297, 41);
    Label1.SetBounds(8, 56, 289, 13);
    Label1.SetVisible(false);
    Error.SetBounds(8, 72, 289, 13);
    PBar.SetBounds(6, 88, 291, 17);
    PBar.SetMin(0);
    PBar.SetMax(100);
    PBar_num.SetBounds(151, 92, 19, 9);
    Upgrade.SetBounds(314, 6, 81, 73);
    Upgrade.SetCaption("Upgrade");
    ComList.SetBounds(314, 86, 81, 21);
    ComList.SetItems({"Com1", "Com2", "Com3", "Com4", "Com5", "Com6", "Com7", "Com8", "Com9", "Com10"});
    ComList.SetCaption("ComList");
    P_Image.SetBounds(427, 6, 105, 105);
    P_ImageKind.SetBounds(2, 2, 100, 100);

    // Service buttons and picture stores lie below the client area.
    Button2.SetBounds(8, 130, 75, 25);
    Button2.SetCaption("Open Com 1");
    Button3.SetBounds(88, 130, 75, 25);
    Button3.SetCaption("Close Com 1");
    Button1.SetBounds(168, 130, 75, 25);
    Button1.SetCaption("Button1");
    Button4.SetBounds(248, 130, 75, 25);
    Button4.SetCaption("Button4");
    Button5.SetBounds(328, 130, 75, 25);
    Button5.SetCaption("Button5");
    Button6.SetBounds(408, 130, 75, 25);
    Button6.SetCaption("Button6");
    int left = 8;
    for (TImage* store : {&KV4100, &Quorin, &R_1100, &R_1200, &R_1400, &R_1900S, &R_1900D, &R_1900, &W_500}) {
        store->SetBounds(left, 160, 100, 100);
        store->SetPicture(store->Name());
        left += 104;
    }
    OpenDialog1.Filter = "Tolm Firmware File (*.Bin)|*.bin|Tolm Font File(*.Fon)|*.fon";
}

// ---------------------------------------------------------------- start-up

void TForm1::FormCreate() {
    Form.SetCaption(kCaption);
    QuorinPacket = std::make_unique<TQuorin_Packet>();
    KVPacket = std::make_unique<TKV_Packet>();
    ScanPacket = std::make_unique<TScan_Packet>();
    ScanTIDPacket = std::make_unique<TScan_TID_Packet>();
    ActivatedOnce = false;
}

void TForm1::FormActivate() {
    if (ActivatedOnce) return;
    ActivatedOnce = true;
    SelectFirmwareFile();
    RefreshPortList();
    ComList.SetItemIndex(0);
}

void TForm1::SelectFirmwareFile() {
    FirmwareFamily = 0;
    FirmwareFile.clear();
    if (!OpenDialog1.Execute()) return;
    FirmwareFile = OpenDialog1.FileName;
    if (UpperLastFour(FirmwareFile) == ".FON")
        CheckFontFile();
    else
        CheckFirmwareFile();
}

void TForm1::ShowProductPicture() {
    P_ImageKind.SetPicture("");
    switch (FirmwareFamily) {
    case 2: {
        const std::string& scan = ScanPacket->ModelCode;
        if (scan == "LB1Y") P_ImageKind.SetPicture(R_1100.Picture());
        if (scan == "LB2Y") P_ImageKind.SetPicture(R_1200.Picture());
        if (scan == "LB4Y" || scan == "LB47") P_ImageKind.SetPicture(R_1400.Picture());
        if (scan == "ND1Y" || scan == "ND11") P_ImageKind.SetPicture(W_500.Picture());
        const std::string& tid = ScanTIDPacket->ModelCode;
        if (tid == "GH2Y") P_ImageKind.SetPicture(R_1900S.Picture());
        if (tid == "TW2Y") P_ImageKind.SetPicture(R_1900D.Picture());
        break;
    }
    case 3:
        P_ImageKind.SetPicture(Quorin.Picture());
        break;
    case 4:
        P_ImageKind.SetPicture(KV4100.Picture());
        break;
    default:
        break;
    }
}

void TForm1::ShowPicturePanel() {
    P_Image.SetLeft(301);
    P_Image.SetTop(6);
}

void TForm1::HidePicturePanel() {
    P_Image.SetLeft(421);
    P_Image.SetTop(6);
}

// ------------------------------------------------------- file identification

int32_t TForm1::IdentifyFirmwareFamily(const std::string& path) {
    if (path.empty()) return 0;
    int fd = OpenRegularFile(path);
    const long long size = OpenFileSize(fd);
    if (size < 0) {
        CloseFile(fd);
        return 0;
    }
    // A file shorter than one trailer block has no trailer: the read then
    // takes the file's first bytes.
    const long long at = size >= 1024 ? size - 1024 : 0;
    unsigned char trailer[50];
    const long long got = ReadFileAt(fd, at, trailer, sizeof trailer);
    CloseFile(fd);
    if (got <= 0) return 0;
    std::string code;
    for (long long i = 0; i < std::min<long long>(got, 3); ++i) code += static_cast<char>(trailer[i] - 10);
    FamilyCode = code;
    if (code == "3QR") return 3;
    if (code == "4KV") return 4;
    if (IsFirstGenerationCode(code) || code == "2TW" || code == "2GH") return 2;
    return 0;
}

int32_t TForm1::GetFirmwareFileSize(const std::string& path) {
    // A FIFO or device named like a firmware file is refused, never waited on.
    errno = 0;
    int fd = OpenRegularFile(path);
    const int why = fd < 0 ? (errno ? errno : EINVAL) : 0;
    const long long size = OpenFileSize(fd);
    CloseFile(fd);
    if (size < 0) {
        throw EFOpenError("Cannot open file \"" + path + "\". " +
                          (why == EINVAL || why == 0 ? std::string("Not a regular file") : std::strerror(why)));
    }
    return static_cast<int32_t>(size);
}

void TForm1::CheckFirmwareFile() {
    if (!FirmwareFile.empty()) {
        const int32_t size = GetFirmwareFileSize(FirmwareFile);
        FirmwareFamily = IdentifyFirmwareFamily(FirmwareFile);
        Label1.SetCaption("Fimrware種類 [" + std::to_string(FirmwareFamily) + "]");
        int r = 0;
        bool checked = true;
        switch (FirmwareFamily) {
        case 2:
            if (IsFirstGenerationCode(FamilyCode)) {
                r = ScanPacket->CheckUpgradeFileVer(FirmwareFile);
            } else {
                ScanTIDPacket->ImageOffset = 0;
                r = ScanTIDPacket->CheckUpgradeFileVer(FirmwareFile);
            }
            break;
        case 3:
            r = QuorinPacket->CheckUpgradeFileVer(FirmwareFile);
            break;
        case 4:
            r = KVPacket->CheckUpgradeFileVer(FirmwareFile);
            break;
        default:
            checked = false;
            break;
        }
        // A first-generation scanner file shorter than one image would have
        // its missing blocks sent as blank flash, its trailer as data.
        const bool firstGenScanner = FirmwareFamily == 2 && IsFirstGenerationCode(FamilyCode);
        if (checked && r == 0 && firstGenScanner && size < kOneImageLength) {
            Error.SetCaption("G001.1 Upgrade file invalid");
            FirmwareFile.clear();
        } else if (checked && r == 0) {
            RememberCheckedFile();
            if (FirmwareFamily == 2) ScanPacket->ImageLength = size;
            if (FirmwareFamily == 3) QuorinPacket->FirmwareSize = size;
            if (FirmwareFamily == 4) {
                KVPacket->LoadFileToMemory(FirmwareFile);
                Repaint();
                KVPacket->FirmwareSize = size;
            }
        } else if (checked && (FirmwareFamily == 2 || FirmwareFamily == 3)) {
            if (r == -2) ShowMessage("Fireware 版本小於105");
            if (r == -1) ShowMessage("沒有發現Bin檔案");
            FirmwareFile.clear();
        } else if (checked && FirmwareFamily == 4) {
            if (r == -1) Error.SetCaption("G001.1 Upgrade file invalid");
            FirmwareFile.clear();
        }
    }
    ShowProductPicture();
    ShowFileLine();
}

void TForm1::CheckFontFile() {
    if (!FirmwareFile.empty()) {
        const int32_t size = GetFirmwareFileSize(FirmwareFile);
        FirmwareFamily = 4;
        KVPacket->FirmwareSize = size;
        const int r = KVPacket->LoadFileToMemoryFont(FirmwareFile);
        if (r == -1) ShowMessage(kSystemMistake);
        if (r == -2) ShowMessage("warning .. File Size > 1024K");
        if (r != 0) FirmwareFile.clear();
        Repaint();
    }
    ShowProductPicture();
    ShowFileLine();
}

namespace {
bool StatFile(const std::string& path, int64_t& size, int64_t& modifiedNs) {
    const auto facts = RegularFileFacts(path);
    if (!facts) return false;
    size = facts->Size;
    modifiedNs = facts->ModifiedNs;
    return true;
}
}  // namespace

void TForm1::RememberCheckedFile() {
    if (!StatFile(FirmwareFile, checkedSize_, checkedModifiedNs_)) checkedSize_ = -1;
}

bool TForm1::FileChangedSinceCheck() const {
    int64_t size = 0, modifiedNs = 0;
    if (!StatFile(FirmwareFile, size, modifiedNs)) return true;
    return size != checkedSize_ || modifiedNs != checkedModifiedNs_;
}

// The file must be chosen (and checked) again; nothing of it is sent.
bool TForm1::RefuseChangedFile() {
    if (FirmwareFile.empty() || (FirmwareFamily != 2 && FirmwareFamily != 3) || !FileChangedSinceCheck())
        return false;
    SetResultIfEmpty("G001.1 Upgrade file invalid");
    FirmwareFile.clear();
    return true;
}

void TForm1::ShowFileLine() {
    // The file name without its folders. Paths here use "/"; a path in the
    // drive-letter form ("C:\FW\A.BIN", "C:A.BIN") is shown the same way.
    const std::string& file = FirmwareFile;
    std::string shown;
    if (CountChar(file, '/') > 0)
        shown = FieldOf(file, '/', CountChar(file, '/') + 1);
    else if (CountChar(file, '\\') > 0)
        shown = FieldOf(file, '\\', CountChar(file, '\\') + 1);
    else if (CountChar(file, ':') > 0)
        shown = FieldOf(file, ':', 2);
    else
        shown = file;
    Path.SetCaption(shown);
}

// ------------------------------------------------------------ upgrade driver

void TForm1::SetResultIfEmpty(const std::string& text) {
    if (Error.Caption().empty()) Error.SetCaption(text);
}

bool TForm1::FileStep(const std::string& message) {
    if (FirmwareFile.empty()) SelectFirmwareFile();
    if (FirmwareFile.empty()) {
        ShowMessage(message);
        return false;
    }
    return true;
}

void TForm1::ShowSequenceError(const std::string& operation, const std::exception& e) {
    MessageBox(operation + e.what(), "Tolm", TMsgIcon::Information);
}

void TForm1::ShowKernelMessage(int code, bool dockCheck) {
    static const char* const kScanner[] = {"G006.3", "G006.4", "G006.5", "G006.6", "G006.7", "G006.8", "G006.9"};
    static const char* const kDock[] = {"G006.9", "G006.10", "G006.11", "G006.12", "G006.13", "G006.14", "G006.15"};
    const int index = (code <= -1 && code >= -6) ? -code - 1 : 6;
    Error.SetCaption(Firmware(dockCheck ? kDock[index] : kScanner[index]));
}

int TForm1::SelectedPortNumber() const {
    const int index = ComList.ItemIndex();
    if (index < 0 || index >= static_cast<int>(ComList.Items().size()))
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    const std::string text = ComList.Items()[static_cast<size_t>(index)];
    const std::string digits = text.size() > 3 ? text.substr(3) : std::string();
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        throw EConvertError("'" + digits + "' is not a valid integer value");
    return std::stoi(digits);
}

void TForm1::RefreshPortList() {
    // The ten fixed items, then the ports above them that the workstation
    // has now. The item the operator chose stays, even when its port has
    // gone: a press then says that it cannot be opened.
    constexpr size_t kFixedItems = 10;
    const auto& shown = ComList.Items();
    const int selected = ComList.ItemIndex();
    const std::string chosen =
        selected >= 0 && static_cast<size_t>(selected) < shown.size() ? shown[static_cast<size_t>(selected)] : "";
    std::vector<std::string> shownHints = ComList.Hints();
    shownHints.resize(shown.size());
    std::vector<std::string> items(shown.begin(), shown.begin() + std::min(kFixedItems, shown.size()));
    std::vector<std::string> hints(shownHints.begin(), shownHints.begin() + static_cast<std::ptrdiff_t>(items.size()));
    for (const TWorkstationPort& port : WorkstationPorts()) {
        const std::string item = "Com" + std::to_string(port.Number);
        if (port.Number <= 10 || std::find(items.begin(), items.end(), item) != items.end()) continue;
        items.push_back(item);
        hints.push_back(port.Name);
    }
    if (!chosen.empty() && std::find(items.begin(), items.end(), chosen) == items.end()) {
        items.push_back(chosen);
        hints.push_back(shownHints[static_cast<size_t>(selected)]);
    }
    if (items == shown && hints == shownHints) return;
    ComList.SetItems(items, hints);
    const auto at = std::find(items.begin(), items.end(), chosen);
    ComList.SetItemIndex(chosen.empty() ? selected : static_cast<int>(at - items.begin()));
}

TUpgradeOutcome TForm1::Outcome() const {
    if (portNotOpened_ && Error.Caption().empty())
        return {TUpgradeOutcome::TKind::PortNotOpened, "E001", "E001: Warn ComPort to be unable to open"};
    return TUpgradeOutcome::OfResultLine(Error.Caption());
}

void TForm1::UpgradeClick() {
    Error.SetCaption("");
    portNotOpened_ = false;
    RefreshPortList();
    if (FirmwareFile.empty()) SelectFirmwareFile();
    if (FirmwareFile.empty()) {
        HidePicturePanel();
        return;
    }
    if (RefuseChangedFile()) {
        HidePicturePanel();
        return;
    }
    const int port = SelectedPortNumber();
    switch (TolmSerialComm1.OpenComPort(port, kScanSettings)) {
    case -3:
        ShowMessage("E002: Warn ComPort to open again");
        break;
    case -2:
        portNotOpened_ = true;
        ShowMessage(OpenFailedMessage(port, TolmSerialComm1.LastOpenError()));
        return;
    case -1:
        ShowMessage(kSystemMistake);
        break;
    default:
        break;
    }
    ShowPicturePanel();
    Repaint();
    PBar.SetPosition(0);
    Error.SetCaption("");

    if (FirmwareFamily == 2 && IsFirstGenerationCode(FamilyCode)) {
        ScanPacket->PortNumber = port;
        ScanPacket->PortSettings = kScanSettings;
        ScanPacket->ImageLength = kOneImageLength;
        PBar.SetMin(0);
        PBar.SetMax(256);
        Scan_Upgrade();
        TolmSerialComm1.CloseComPort(port);
        HidePicturePanel();
    } else if (FirmwareFamily == 2) {
        ScanTIDPacket->PortNumber = port;
        ScanTIDPacket->PortSettings = kScanSettings;
        ScanTIDPacket->ImageLength = kOneImageLength;
        Scan_TID_Start();
        if (Docking_Times.Enabled()) return;  // the port stays open for the second image
        TolmSerialComm1.CloseComPort(port);
        Label1.SetCaption(ClosedNote(port));
    } else if (FirmwareFamily == 3) {
        // The terminal's announcement starts the transfer (receive handler).
        QuorinPacket->PortNumber = port;
        QuorinPacket->PortSettings = kTerminalSettings;
    } else if (FirmwareFamily == 4) {
        KVPacket->PortNumber = port;
        KVPacket->PortSettings = kTerminalSettings;
        PBar.SetMin(0);
        PBar.SetMax(512);
        TolmSerialComm1.ComSettings(port, "9600,n,8,1");
        KVPacket->Send_UpgradeMode(&TolmSerialComm1);
        TolmSerialComm1.CloseComPort(port);
        TolmSerialComm1.OpenComPort(port, KVPacket->PortSettings);
        Sleep(200);
        int ok = KVPacket->Check_10_InfoPacket(&TolmSerialComm1);
        if (ok == 0) ok = KVPacket->Check_10_InfoPacket(&TolmSerialComm1);
        if (ok == 1)
            KV_Upgrade();
        else
            Error.SetCaption(Firmware("G006.1"));
        TolmSerialComm1.CloseComPort(port);
        HidePicturePanel();
    } else {
        // A file of no known family: nothing can be sent. Free the port and the
        // button again, and ask for another file at the next press.
        TolmSerialComm1.CloseComPort(port);
        HidePicturePanel();
        Error.SetCaption("G001.1 Upgrade file invalid");
        FirmwareFile.clear();
    }
}

void TForm1::Scan_Upgrade() {
    try {
        Sleep(100);
        if (!FileStep(kNoFirmwareFile)) return;
        TScan_Packet& scan = *ScanPacket;
        if (scan.CheckConnection(&TolmSerialComm1) != 0) {
            Error.SetCaption("G006.0 Connection Error");
            return;
        }
        scan.CheckUpgradeFileVer(FirmwareFile);
        Sleep(100);
        int k = scan.CheckUpgradeKernel10(&TolmSerialComm1);
        for (int call = 1; k != 0 && call < 3; ++call) k = scan.CheckUpgradeKernel10(&TolmSerialComm1);
        if (k != 0) {
            ShowKernelMessage(k, false);
            return;
        }
        scan.LoadFileToMemory(FirmwareFile);
        if (!scan.Send_70_StartPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade Start Error");
            return;
        }
        if (!scan.Send_70_Packet(&TolmSerialComm1, &PBar, &PBar_num)) {
            SetResultIfEmpty("Upgrade Error");
            return;
        }
        if (scan.Send_70_EndPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade PASS");
            PBar_num.SetCaption("");
            PBar.SetPosition(0);
        } else {
            SetResultIfEmpty("Upgrade End Error");
        }
    } catch (const Exception& e) {
        ShowSequenceError(kScanErrorBox, e);
    }
}

void TForm1::Scan_TID_Start() {
    bool done = false;
    Sleep(100);
    if (!FileStep("not Select Firmware file")) return;
    TScan_TID_Packet& tid = *ScanTIDPacket;
    tid.ImageOffset = 0;
    tid.CheckScanFall(&TolmSerialComm1);
    const int32_t fileSize = ScanPacket->ImageLength;

    auto runScannerImage = [&](int rangeMax) {
        done = true;
        PBar.SetMin(0);
        PBar.SetMax(rangeMax);
        if (rangeMax == 512) {
            P_ImageKind.SetPicture(R_1900S.Picture());
            Scan_TID_Upgrade();
            if (Error.Caption() == "Upgrade PASS") PBar.SetPosition(256);
            Error.Repaint();
        } else {
            Scan_TID_Upgrade();
        }
    };

    if (fileSize == kTwoImageLength) {
        P_ImageKind.SetPicture(R_1900.Picture());
        P_ImageKind.Repaint();
        if (tid.Send_90_InfoPacket(&TolmSerialComm1)) runScannerImage(512);
        if (!done && tid.Send_90_InfoPacket(&TolmSerialComm1)) runScannerImage(512);
        if (Error.Caption() == "Upgrade PASS") {
            Error.SetCaption("");
            Docking_Times.SetEnabled(true);
        } else {
            SetResultIfEmpty("G002.1 Host connection error.");
            HidePicturePanel();
        }
    } else if (fileSize == kOneImageLength) {
        Label1.SetCaption("準備90封包1");
        if (!done) {
            Label1.SetCaption("準備90封包2");
            if (tid.Send_90_InfoPacket(&TolmSerialComm1)) {
                Label1.SetCaption("第一次90封包成功");
                runScannerImage(256);
            }
            if (!done && tid.Send_90_InfoPacket(&TolmSerialComm1)) {
                Label1.SetCaption("第二次90封包成功");
                runScannerImage(256);
            }
        }
        if (!done) {
            for (int attempt = 0; attempt < 2 && !done; ++attempt) {
                if (tid.Send_95_InfoPacket(&TolmSerialComm1)) {
                    done = true;
                    PBar.SetMin(0);
                    PBar.SetMax(256);
                    Scan_TID_Upgrade75();
                }
            }
        }
        if (!done) Error.SetCaption("G002.2 Host connection error.");
        HidePicturePanel();
    }
}

bool TForm1::Scan_TID_Upgrade() {
    try {
        Sleep(100);
        if (!FileStep(kNoFirmwareFile)) return false;
        TScan_TID_Packet& tid = *ScanTIDPacket;
        tid.CheckUpgradeFileVer(FirmwareFile);
        Sleep(100);
        int k = tid.CheckUpgradeKernel10(&TolmSerialComm1);
        for (int call = 1; k != 0 && call < 3; ++call) k = tid.CheckUpgradeKernel10(&TolmSerialComm1);
        if (k != 0) {
            ShowKernelMessage(k, false);
            return false;
        }
        tid.LoadFileToMemory70(FirmwareFile);
        if (!tid.Send_70_StartPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade Start Error");
            return false;
        }
        if (!tid.Send_70_Packet(&TolmSerialComm1, &PBar, &PBar_num)) {
            SetResultIfEmpty("Upgrade Error");
            return false;
        }
        if (tid.Send_70_EndPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade PASS");
            PBar_num.SetCaption("");
            PBar.SetPosition(0);
            return true;
        }
        SetResultIfEmpty("Upgrade End Error");
    } catch (const Exception& e) {
        ShowSequenceError(kScanErrorBox, e);
    }
    return false;
}

void TForm1::Scan_TID_Upgrade75() {
    try {
        Sleep(100);
        if (!FileStep("not select firmware file")) return;
        TScan_TID_Packet& tid = *ScanTIDPacket;
        tid.CheckUpgradeFileVer(FirmwareFile);
        Sleep(100);
        int k = tid.CheckUpgradeKernel11(&TolmSerialComm1);
        for (int call = 1; k != 0 && call < 3; ++call) k = tid.CheckUpgradeKernel11(&TolmSerialComm1);
        if (k != 0) {
            ShowKernelMessage(k, true);
            return;
        }
        if (RefuseChangedFile()) return;
        tid.LoadFileToMemory75(FirmwareFile);
        if (!tid.Send_75_StartPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade Start Error");
            return;
        }
        if (!tid.Send_75_Packet(&TolmSerialComm1, &PBar, &PBar_num)) {
            SetResultIfEmpty("Upgrade Error");
            return;
        }
        if (tid.Send_75_EndPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade PASS");
            PBar_num.SetCaption("");
            PBar.SetPosition(0);
        } else {
            SetResultIfEmpty("Upgrade End Error");
        }
    } catch (const Exception& e) {
        ShowSequenceError(kScanErrorBox, e);
    }
}

void TForm1::Docking_TimesTimer() {
    Docking_Times.SetEnabled(false);
    bool done = false;
    TScan_TID_Packet& tid = *ScanTIDPacket;
    tid.ImageOffset = 257;
    for (int attempt = 0; attempt < 2 && !done; ++attempt) {
        if (tid.Send_95_InfoPacket(&TolmSerialComm1)) {
            P_ImageKind.SetPicture(R_1900D.Picture());
            P_ImageKind.Repaint();
            Scan_TID_Upgrade75();
            done = true;
        }
    }
    if (!done) Error.SetCaption("G002.3 Host connection error.");
    TolmSerialComm1.CloseComPort(tid.PortNumber);
    Label1.SetCaption(ClosedNote(tid.PortNumber));
    HidePicturePanel();
}

void TForm1::Quorin_Upgrade() {
    try {
        TQuorin_Packet& quorin = *QuorinPacket;
        Sleep(100);
        if (quorin.Send_07_Connect_Start(&TolmSerialComm1)) return;
        if (!FileStep(kNoFirmwareFile)) return;
        Sleep(100);
        int k = quorin.CheckUpgradeKernel(&TolmSerialComm1);
        if (k != 0) k = quorin.CheckUpgradeKernel(&TolmSerialComm1);
        if (k != 0) {
            Error.SetCaption(Firmware(k == -2 ? "G006.19" : k == -1 ? "G006.18" : "G006.20"));
            return;
        }
        if (RefuseChangedFile()) {
            TolmSerialComm1.CloseComPort(quorin.PortNumber);
            HidePicturePanel();
            return;
        }
        quorin.LoadFileToMemory(FirmwareFile);
        if (!quorin.Send_70_StartPacket(&TolmSerialComm1))
            SetResultIfEmpty("Upgrade Start Error");
        else if (!quorin.Send_70_Packet(&TolmSerialComm1, &PBar, &PBar_num))
            SetResultIfEmpty("Upgrade Error");
        if (quorin.Send_70_EndPacket(&TolmSerialComm1)) {
            SetResultIfEmpty("Upgrade PASS");
            PBar_num.SetCaption("");
            PBar.SetPosition(0);
        } else {
            SetResultIfEmpty("Upgrade End Error");
        }
        TolmSerialComm1.CloseComPort(quorin.PortNumber);
        HidePicturePanel();
    } catch (const Exception& e) {
        ShowSequenceError(kTerminalErrorBox, e);
    }
}

void TForm1::KV_Upgrade() {
    try {
        if (!FileStep(kNoFirmwareFile)) return;
        TKV_Packet& kv = *KVPacket;
        const bool font = UpperLastFour(FirmwareFile) == ".FON";
        if (!font) {
            int k = kv.CheckUpgradeKernel(&TolmSerialComm1);
            if (k != 0) k = kv.CheckUpgradeKernel(&TolmSerialComm1);
            if (k != 0) {
                Error.SetCaption(Firmware(k == -2 ? "G006.17" : k == -1 ? "G006.16" : "G006.18"));
                kv.Send_30_Quit(&TolmSerialComm1);
                return;
            }
        }
        if (kv.Send_70_StartPacket(&TolmSerialComm1)) {
            const bool sent = font ? kv.Send_70_Packet_Font(&TolmSerialComm1, &PBar, &PBar_num)
                                   : kv.Send_70_Packet(&TolmSerialComm1, &PBar, &PBar_num);
            if (!sent) SetResultIfEmpty("Upgrade Error");
        } else {
            SetResultIfEmpty("Upgrade Start Error");
        }
        const std::string kind = font ? "Font Upgrade" : "Upgrade";
        if (kv.Send_70_EndPacket(&TolmSerialComm1)) {
            SetResultIfEmpty(kind + " PASS");
            PBar_num.SetCaption("");
            PBar.SetPosition(0);
        } else {
            SetResultIfEmpty(kind + " End Error");
        }
        HidePicturePanel();
    } catch (const Exception& e) {
        ShowSequenceError(kTerminalErrorBox, e);
    }
}

// ------------------------------------------- receive handler, service buttons

void TForm1::TolmSerialComm1ReceiveData(TReceivePacket* packet) {
    try {
        if (!packet) return;
        const TByteBuffer& bytes = packet->Bytes;
        if (bytes.Length() <= 11 || bytes[11] != 0x64) return;
        PBar.SetMin(0);
        PBar.SetMax(532);
        PBar.SetPosition(0);
        if (FirmwareFamily != 3) return;
        if (bytes[2] != 3) {
            ShowMessage("警告 Firmware 和機型不合");
            return;
        }
        TQuorin_Packet& quorin = *QuorinPacket;
        quorin.GetTerminalName(bytes);
        quorin.SetTerminalID(bytes);
        quorin.SendACK(&TolmSerialComm1);
        TolmSerialComm1.ClearBuffer(quorin.PortNumber);
        Quorin_Upgrade();
    } catch (const Exception&) {
        MessageBox("【功能操作錯誤】『TolmSerialComm』:ReceiveData", "Tolm", TMsgIcon::Information);
    }
}

void TForm1::Button1Click() {
    for (int pass = 0; pass <= 1000; ++pass) {
        PBar_num.SetCaption(std::to_string(pass));
        PBar_num.Repaint();
        TolmSerialComm1.OpenComPort(1, kScanSettings);
        QuorinPacket->Send_10_InfoPacket(&TolmSerialComm1);
        TolmSerialComm1.CloseComPort(1);
        Sleep(100);
    }
}

void TForm1::Button2Click() { TolmSerialComm1.OpenComPort(1, kScanSettings); }

void TForm1::Button3Click() { TolmSerialComm1.CloseComPort(1); }

void TForm1::Button4Click() {
    TolmSerialComm1.OpenComPort(1, "9600,n,8,1");
    const std::string text = ComList.Text();
    ShowMessage(text.size() > 3 ? text.substr(3) : std::string());
    TolmSerialComm1.SendByte(1, TByteBuffer{0x65, 0x66, 0x67, 0x0A});
    TolmSerialComm1.CloseComPort(1);
}

void TForm1::Button5Click() {
    // Port 1 opened directly, bypassing the serial component. A step that
    // fails shows "Err" and ends the attempt, so "Open" means the port is open.
    if (RawPortHandle) RawPortHandle->Close();
    RawPortHandle = MakeSerialDevice();
    auto fail = [this] {
        RawPortHandle->Close();
        RawPortHandle.reset();
        ShowMessage("Err");
    };
    if (!RawPortHandle->Open(PortMap::ResolvePort(1).Path)) return fail();
    if (!RawPortHandle->SetQueueSizes(5120, 5120)) return fail();
    RawPortHandle->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    const auto settings = ParseSettings(kScanSettings);
    if (!settings || !RawPortHandle->SetLineState(*settings, false)) return fail();
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 100;
    RawPortHandle->SetTimeouts(timeouts);
    ShowMessage("Open");
}

void TForm1::Button6Click() {
    if (RawPortHandle) RawPortHandle->Close();
    RawPortHandle.reset();
    ShowMessage("Close");
}

void TForm1::RunEvent(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const Exception& e) {
        ShowMessage(e.Message);
    } catch (const std::exception& e) {
        ShowMessage(e.what());
    }
}

}  // namespace tolm
