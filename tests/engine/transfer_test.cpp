// The firmware transfer against a scripted loader: which files go over the wire and in which
// order, and what the log tells the operator, for each way the loader answers, prompts, aborts or
// stays silent. The loader is reached as after a broken-off upload: silent at the handshake, the
// operator answers "Aborted upload?" with Yes, and no backup runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/Update_unit2.h"
#include "peer_test.h"
#include "platform/operator.h"

namespace {

const std::string Ready = "\r\nTMV540 ready for next file.";
const std::string ReSending = "\r\nError sending file; re-sending.";
const std::string Unexpected = "\r\nUnexpected reply from TMV540.\r\n";
const std::string TryAgain = "\r\nTry repeating steps 1 and 2.\r\n";
const std::string CutOffPower = "\r\nCut off power and hold IG1 and DEGAS while restoring power.\r\n";
const std::string TooMany = "\r\nToo many file errors.  Update canceled.";
const std::string StartAgain = "\r\nRe-start the update program to begin again.";
const std::string LastFile = "\r\nFinished with last file.";
const std::string S1 = Sending(1), S2 = Sending(2), S3 = Sending(3), S4 = Sending(4), S5 = Sending(5), S6 = Sending(6),
                  S7 = Sending(7), S8 = Sending(8);
// What the completion sends first, with its NUL.
const std::string IdnQuery = std::string("*IDN?\n") + '\0';

// The transfer's lines in the log, in order; every other text is left out.
std::vector<std::string> TransferLines(const std::string& log) {
  std::vector<std::string> known = {Ready,       Finished, ReSending, SendFailed, Unexpected, TryAgain,
                                    CutOffPower, Aborted,  TooMany,   StartAgain, NoReply,    LastFile};
  for (int digit = 1; digit <= 8; ++digit) known.push_back(Sending(digit));
  std::vector<std::string> lines;
  for (std::size_t at = 0;;) {
    const std::string* next = nullptr;
    std::size_t nextAt = std::string::npos;
    for (const std::string& line : known) {
      const std::size_t found = log.find(line, at);
      if (found < nextAt) {
        nextAt = found;
        next = &line;
      }
    }
    if (!next) return lines;
    lines.push_back(*next);
    at = nextAt + next->size();
  }
}

std::string WireOf(const std::vector<int>& files) {
  std::string wire = Handshake;
  for (int file : files) wire += "[file " + std::to_string(file) + "]";
  return wire;
}

struct LoaderCase {
  const char* name;
  // In turn: when the log shows .first, the loader sends .second.
  std::vector<std::pair<std::string, std::string>> cues;
  // The loader's answer to each file it receives, in turn ("": silence).
  std::vector<std::string> answers;
  std::vector<int> files;          // the files the loader receives, by content
  std::vector<std::string> lines;  // the transfer's log lines
  bool completes;                  // the completion follows the last write
};

// gtest names a failing case by this.
void PrintTo(const LoaderCase& c, std::ostream* os) { *os << c.name; }

const LoaderCase Cases[] = {
    {"CleanTransfer",
     {{PowerHint, "01"}},
     {"02", "03", "04", "05", "06", "07", "08"},
     {1, 2, 3, 4, 5, 6, 7, 8},
     {S1, Finished, Ready, S2, Finished, Ready, S3, Finished, Ready, S4, Finished, Ready,
      S5, Finished, Ready, S6, Finished, Ready, S7, Finished, Ready, S8, LastFile},
     true},
    {"PromptWhileWaitingSendsFileOneAgain",
     {{PowerHint, "01"}},
     {"01", "02", "x"},
     {1, 1, 2},
     {S1, Finished, ReSending, S1, Finished, Ready, S2, Finished, Aborted},
     false},
    {"PromptAfterALeadByteWhileWaitingSendsFileOneAgain",
     {{PowerHint, "01"}},
     {"02", "\n01", "x"},
     {1, 2, 1},
     {S1, Finished, Ready, S2, Finished, ReSending, S1, Finished, Aborted},
     false},
    // Three requests for the file just written pass, the fourth cancels, though files advance between.
    {"FourthRepeatedRequestCancels",
     {{PowerHint, "01"}},
     {"02", "02", "03", "03", "04", "04", "05", "05"},
     {1, 2, 2, 3, 3, 4, 4, 5},
     {S1, Finished, Ready,     S2, Finished, ReSending, S2,      Finished,  Ready,
      S3, Finished, ReSending, S3, Finished, Ready,     S4,      Finished,  ReSending,
      S4, Finished, Ready,     S5, Finished, ReSending, TooMany, StartAgain},
     false},
    {"EarlierFileMovesBothBack",
     {{PowerHint, "01"}},
     {"02", "03", "02", "03", "x"},
     {1, 2, 3, 2, 3},
     {S1, Finished, Ready, S2, Finished, Ready, S3, Finished, ReSending, S2, Finished, Ready, S3, Finished, Aborted},
     false},
    // On file 1 a request for another file renames what is sent but keeps its content at file 1;
    // the completion comes with the write that the name '8' is given to.
    {"OtherFileWhileOnFileOneKeepsFileOne",
     {{PowerHint, "01"}},
     {"03", "04", "05", "06", "07", "08"},
     {1, 1, 2, 3, 4, 5, 6},
     {S1,       Finished, ReSending, S3,       Finished, Ready, S4,       Finished, Ready, S5,
      Finished, Ready,    S6,        Finished, Ready,    S7,    Finished, Ready,    S8,    LastFile},
     true},
    {"UnexpectedReplyRestartsAtFileOne",
     {{PowerHint, "01"}, {TryAgain, "01"}},
     {"02", "03", "?", "x"},
     {1, 2, 3, 1},
     {S1, Finished, Ready, S2, Finished, Ready, S3, Finished, Unexpected, TryAgain, S1, Finished, Aborted},
     false},
    {"UnexpectedReplyWhileTheLoaderWasAlreadyActive",
     {{PowerHint, "?"}, {CutOffPower, "01"}},
     {"x"},
     {1},
     {Unexpected, CutOffPower, S1, Finished, Aborted},
     false},
    {"LeadByteBeforeThePromptIsNoAbort",
     {{PowerHint, "01"}, {TryAgain, "x01"}},
     {"?", "x"},
     {1, 1},
     {S1, Finished, Unexpected, TryAgain, S1, Finished, Aborted},
     false},
    {"EightFirstIsAnAnswerNineIsUnexpected",
     {{PowerHint, "01"}, {TryAgain, "x"}},
     {"82", "93"},
     {1, 2},
     {S1, Finished, Ready, S2, Finished, Unexpected, TryAgain, Aborted},
     false},
    // No such file as '9' or the NUL after a one-byte reply: the loader has to start over.
    {"FileDigitOutsideOneToEightIsUnexpected",
     {{PowerHint, "01"}, {TryAgain, "01"}, {TryAgain, "x"}},
     {"09", "0"},
     {1, 1},
     {S1, Finished, Unexpected, TryAgain, S1, Finished, Unexpected, TryAgain, Aborted},
     false},
    {"AbortIgnoredUntilTheFirstUploadStep",
     {{PowerHint, "x"}, {"x", "01"}},
     {"X"},
     {1},
     {S1, Finished, Aborted},
     false},
    {"SilenceWhileWaitingCancels", {{PowerHint, "01"}}, {}, {1}, {S1, Finished, NoReply}, false},
};

class TransferTest : public PeerTest, public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(TransferTest, LoaderScript) {
  const LoaderCase& c = GetParam();
  op.Answer("Aborted upload?", IDYES);
  for (const auto& [logged, sent] : c.cues) op.WhenLogged(logged, [this, sent] { peer.Send(sent); });
  std::uint32_t silentPassesAtCancel = 0;
  op.WhenLogged(NoReply, [&] { silentPassesAtCancel = SilentPollCount; });
  peer.AfterFiles(c.answers);
  // After the last file: the new firmware answers, and the backups are there to send back.
  peer.When("*IDN?", "TMV540\r\n");
  WriteWorkFile("tmv-cal.txt", "$dia 1\r\nSNUM 12345\n$sef\r\n");
  WriteWorkFile("tmv-ste.txt", "GPMU 1\n");
  op.Answer("Upload Complete", IDOK);

  RunUpdate(peer.DevicePath());

  const std::string wire = peer.Wire();
  if (c.completes) {
    EXPECT_EQ(wire.substr(0, WireOf(c.files).size() + IdnQuery.size()), WireOf(c.files) + IdnQuery);
  } else {
    EXPECT_EQ(wire, WireOf(c.files));
  }
  EXPECT_EQ(peer.Files(), c.files);
  EXPECT_EQ(TransferLines(op.Log()), c.lines) << op.Log();
  EXPECT_TRUE(op.Unexpected().empty());
  EXPECT_EQ(op.Log().substr(op.Log().size() - RestartHint.size()), RestartHint);

  const auto& appends = op.Appends();
  if (c.lines.back() == Aborted) {
    // The abort reply shows twice: echoed by the poll, then once more by the abort.
    const auto abort = std::find(appends.begin(), appends.end(), Aborted) - appends.begin();
    ASSERT_GE(abort, 2);
    EXPECT_TRUE(appends[abort - 1] == "x" || appends[abort - 1] == "X");
    EXPECT_EQ(appends[abort - 2], appends[abort - 1]);
  }
  if (c.lines.back() == NoReply) {
    EXPECT_EQ(silentPassesAtCancel, 101u);
  }
}

INSTANTIATE_TEST_SUITE_P(Loader, TransferTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return std::string(info.param.name); });

using WriteFailureTest = PeerTest;

// A write that fails while the prompt is in hand is made again on the next pass, unasked.
TEST_F(WriteFailureTest, FailedWriteOfAPromptedFileIsRetriedOnTheNextPass) {
  StartInLoader([this] {
    peer.HoldReading();
    peer.Send("01");
  });
  op.WhenLogged(SendFailed, [this] { peer.ResumeReading(true); });
  peer.AfterFiles({"x"});

  PickPort(peer.DevicePath());
  FailWriteInProgress(peer);
  WaitForWorker();

  EXPECT_EQ(peer.Wire(), WireOf({1}));
  EXPECT_EQ(TransferLines(op.Log()), (std::vector<std::string>{S1, SendFailed, S1, Finished, Aborted})) << op.Log();
}

}  // namespace
