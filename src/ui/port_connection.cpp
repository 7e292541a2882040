#include "ui/port_connection.h"

#include "engine/Update_unit2.h"
#include "platform/operator.h"
#include "platform/ui_thread.h"

char PortName[8] = "";
HANDLE PortHandle = INVALID_HANDLE_VALUE;
COMMTIMEOUTS SavedTimeouts = {};
// Reads return after 100 ms at the latest; writes have no time-out.
const COMMTIMEOUTS WorkTimeouts = {0, 0, 100, 0, 0};
TRead* Worker = nullptr;
char ReplyBuffer[ReplyBufferSize] = {};

namespace {

// The grace a stopped worker gets to reach its stop check before its port is closed.
constexpr unsigned StopGraceWait = 250;
// Lets the line settle before the port is opened afresh.
constexpr unsigned OpenSettleWait = 2000;

void CloseOpenPort() {
  if (PortHandle == INVALID_HANDLE_VALUE) return;
  PurgeComm(PortHandle, PURGE_RXABORT);
  SetCommTimeouts(PortHandle, &SavedTimeouts);
  CloseHandle(PortHandle);
  PortHandle = INVALID_HANDLE_VALUE;
}

void ConfigureLine() {
  DCB dcb = {};
  dcb.DCBlength = 28;
  GetCommState(PortHandle, &dcb);
  dcb.BaudRate = 115200;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  SetCommState(PortHandle, &dcb);
}

}  // namespace

void OpenPort() {
  if (Worker) StopWorker();
  LogAppend("\r\nUsing ");
  LogAppend(PortName);
  LogAppend("...\r\n");
  platform::UiSleep(OpenSettleWait);

  PortHandle = CreateFileA(PortName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, INVALID_HANDLE_VALUE);
  if (PortHandle == INVALID_HANDLE_VALUE) {
    LogAppend(DescribeOpenFailure(PortName, GetLastError()));
    MessageBox("Couldn't Open COM port. Exiting.", "Fatal Error", MB_OK);
    EndApplication();
    return;
  }
  // A port that rejects a setting is used with the settings it has, as the operator was asked to
  // set the instrument to match.
  GetCommTimeouts(PortHandle, &SavedTimeouts);
  SetCommTimeouts(PortHandle, &WorkTimeouts);
  ConfigureLine();
  Worker = new TRead(false);
}

void StopWorker() {
  if (Worker) {
    Worker->Terminate();
    platform::UiSleep(StopGraceWait);
  }
  CloseOpenPort();
  // The stop request is only seen at the worker's stop check, which a long phase or an operator's
  // box can keep it from for a minute. Once its port is closed the worker is cut off: its waits
  // end at once and its boxes go unshown, so it reaches the check within moments. Meanwhile its
  // log lines and UI routines are still served here, and no new port is opened until it has
  // ended, so it can never touch a port meant for its successor.
  if (Worker) {
    Worker->Abandon();
    platform::ServeUiRequestsUntil([] { return Worker == nullptr; });
  }
}

void ClosePort() {
  if (PortHandle == INVALID_HANDLE_VALUE) return;  // already closed: nothing to give grace to
  platform::UiSleep(StopGraceWait);
  CloseOpenPort();
}
