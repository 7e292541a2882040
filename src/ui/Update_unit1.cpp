#include "ui/Update_unit1.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <cstring>
#include <string>

#include "firmware/firmware.h"
#include "platform/operator.h"
#include "ui/port_connection.h"

TForm1* Form1 = nullptr;

namespace {

constexpr char PrepareText[] =
    "Before updating your firmware, please make sure of the following:\n\n\n"
    "0.  The TMV540 has power and is running (the display is not black).\n\n"
    "1.  The process control option is disconnected from your vacuum system.\n\n"
    "2.  The provided serial cable is attached to the TMV540 and an unused COM port on your PC.\n\n"
    "3.  The TMV540 serial port is set for:\n"
    "          115200 baud\n          No Parity\n          8 Bit Word Length\n          Hardware flow control.\n";

// A build with the demonstration image says so first thing, so nobody updates an instrument with it.
constexpr const char* Banner =
    FirmwareIsDemonstration ? "TMV540 Update - Linux edition, free software by the TMV540 Update developers"
                              " - DEMONSTRATION FIRMWARE IMAGE: for the simulator only, never for an instrument\r\n"
                            : "TMV540 Update - Linux edition, free software by the TMV540 Update developers\r\n";

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("TMV Update"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  move(432, 329);
  resize(453, 307);

  MainMenu1 = menuBar();
  ComPort1 = MainMenu1->addMenu(QStringLiteral("&Com Port"));
  N11 = ComPort1->addAction(QStringLiteral("&1"), this, &TForm1::N11Click);
  N21 = ComPort1->addAction(QStringLiteral("&2"), this, &TForm1::N21Click);
  N31 = ComPort1->addAction(QStringLiteral("&3"), this, &TForm1::N31Click);
  N41 = ComPort1->addAction(QStringLiteral("&4"), this, &TForm1::N41Click);

  // The log keeps its place and size; it does not follow the window when it is resized.
  auto* client = new QWidget(this);
  setCentralWidget(client);
  Memo1 = new QPlainTextEdit(client);
  Memo1->setGeometry(48, 16, 389, 177);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

  // The window is the application's main form from here on: FormCreate already writes to its log.
  Form1 = this;
  FormCreate();
}

TForm1::~TForm1() {
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::FormCreate() {
  const std::string question = std::string("This application will update your firmware to version ") + FirmwareVersion +
                               ".\nDo you wish to continue?";
  if (MessageBox(question, "Update TMV540 firmware?", MB_YESNO | MB_ICONQUESTION) == IDNO) {
    EndApplication();
    return;
  }
  MessageBox(PrepareText, "Prepare your system", MB_OK);
  LogAppend(Banner);
  LogAppend("\r\nSelect a COM port to begin.\r\n");
}

void TForm1::N11Click() { PickPort("COM1"); }
void TForm1::N21Click() { PickPort("COM2"); }
void TForm1::N31Click() { PickPort("COM3"); }
void TForm1::N41Click() { PickPort("COM4"); }

void TForm1::PickPort(const char* name) {
  std::strncpy(PortName, name, sizeof PortName - 1);
  OpenPort();
}

void TForm1::closeEvent(QCloseEvent* event) {
  StopWorker();
  event->accept();
}
