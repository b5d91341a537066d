#pragma once
// The main window's logic, free of widgets: its controls as models, its
// fields, start-up and file choice, file identification, the upgrade driver
// of every device family, the receive handler and the service buttons.
// The desktop window, the command line and the tests bind to the same object.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Upgradeoutcome.h"
#include "platform/Serialdevice.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

namespace tolm {

class TQuorin_Packet;
class TKV_Packet;
class TScan_Packet;
class TScan_TID_Packet;

class TForm1 {
public:
    TForm1();
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The window itself: its caption and client size.
    TPanel Form{"Form1"};

    // Controls and components, in declaration order.
    TOpenDialog OpenDialog1;
    TTolmSerialComm TolmSerialComm1;
    TButton Button2{"Button2"};
    TButton Button3{"Button3"};
    TPanel Panel1{"Panel1"};
    TButton Upgrade{"Upgrade"};
    TComboBox ComList{"ComList"};
    TProgressBar PBar{"PBar"};
    TPanel P_Image{"P_Image"};
    TImage P_ImageKind{"P_ImageKind"};
    TImage KV4100{"KV4100"};
    TImage Quorin{"Quorin"};
    TLabel Path{"Path"};
    TPanel PBar_num{"PBar_num"};
    TButton Button1{"Button1"};
    TButton Button4{"Button4"};
    TLabel Error{"Error"};
    TImage R_1100{"R_1100"};
    TImage R_1200{"R_1200"};
    TImage R_1400{"R_1400"};
    TImage R_1900S{"R_1900S"};
    TImage R_1900D{"R_1900D"};
    TImage R_1900{"R_1900"};
    TTimer Docking_Times;
    TLabel Label1{"Label1"};
    TButton Button5{"Button5"};
    TButton Button6{"Button6"};
    TImage W_500{"W_500"};

    // Fields.
    std::unique_ptr<TQuorin_Packet> QuorinPacket;
    std::unique_ptr<TKV_Packet> KVPacket;
    std::unique_ptr<TScan_Packet> ScanPacket;
    std::unique_ptr<TScan_TID_Packet> ScanTIDPacket;
    std::string FirmwareFile;
    int32_t FirmwareFamily = 0;
    std::string FamilyCode;
    // Port 1 opened directly by the service buttons Button5 and Button6.
    std::unique_ptr<ISerialDevice> RawPortHandle;
    bool ActivatedOnce = false;

    // Start-up and file choice.
    void FormCreate();
    void FormActivate();
    void SelectFirmwareFile();
    void ShowProductPicture();

    // File identification.
    int32_t IdentifyFirmwareFamily(const std::string& path);
    void CheckFirmwareFile();
    void CheckFontFile();
    int32_t GetFirmwareFileSize(const std::string& path);
    void ShowFileLine();

    // Upgrade driver.
    void UpgradeClick();
    void Scan_Upgrade();
    void Scan_TID_Start();
    bool Scan_TID_Upgrade();
    void Scan_TID_Upgrade75();
    void Docking_TimesTimer();
    void Quorin_Upgrade();
    void KV_Upgrade();

    // Receive handler and service controls.
    void TolmSerialComm1ReceiveData(TReceivePacket* packet);
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();

    // Runs an event handler as the application does: a toolkit exception, or
    // any other one, that escapes it is shown and the program goes on.
    static void RunEvent(const std::function<void()>& handler);

    // Picture panel moves: over the button, or just outside the client area.
    void ShowPicturePanel();
    void HidePicturePanel();
    // "Repaint the window".
    void Repaint() { Form.Repaint(); }

    // The port number of the selected ComList item ("Com10" gives 10).
    int SelectedPortNumber() const;

    // Gives newly plugged adapters their port numbers and adds an item to
    // ComList for each port above Com10, with the port's readable device
    // name as its hint, keeping the selection.
    void RefreshPortList();

    static constexpr const char* kCaption = "Tolm Upgrade Tools...[3.4.8]";

    // The checked file's family, as a type (FirmwareFamily and FamilyCode as
    // the form keeps them).
    TFamily Family() const { return FamilyOf(FirmwareFamily, FamilyCode); }
    // How the last "Upgrade" press ended so far: its result line, or the
    // port that could not be opened (E001), or none yet.
    TUpgradeOutcome Outcome() const;

private:
    void SetResultIfEmpty(const std::string& text);
    void ShowKernelMessage(int code, bool dockCheck);
    bool FileStep(const std::string& message);
    void ShowSequenceError(const std::string& operation, const std::exception& e);
    void PlaceControls();
    // The chosen file as its check saw it. Scanner and Quorin files are read
    // again when their transfer starts; a file that changed since its check
    // (a copy still being written, a file replaced) is not sent.
    void RememberCheckedFile();
    bool FileChangedSinceCheck() const;
    bool RefuseChangedFile();
    bool portNotOpened_ = false;  // the last press showed E001
    int64_t checkedSize_ = -1;
    int64_t checkedModifiedNs_ = 0;
};

}  // namespace tolm
