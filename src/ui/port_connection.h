#pragma once
// The serial port connection of the main window: the port chosen from the menu, its opening,
// configuration and closing, the worker it serves, and the one receive buffer.
// Opening, configuring and closing happen on the UI thread; only the worker reads and writes.
#include "platform/serial.h"

class TRead;

inline constexpr int ReplyBufferSize = 256;

extern char PortName[8];
extern HANDLE PortHandle;
extern COMMTIMEOUTS SavedTimeouts;
extern const COMMTIMEOUTS WorkTimeouts;
extern TRead* Worker;
extern char ReplyBuffer[ReplyBufferSize];

// UI thread. Ends any previous run, opens and configures the port named by PortName, and starts
// a worker. When the port cannot be opened, tells the operator and ends the application.
void OpenPort();
// UI thread. Stops a running worker, closes the port and waits until the worker has ended.
// The main window's close does the same.
void StopWorker();
// UI thread, from FinishUpdate. Closes the port after a short grace.
void ClosePort();
