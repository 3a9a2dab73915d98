// obrint-cli.exe under Wine, sent the console's Ctrl+C as Windows sends it: it ends the program
// at its question with nothing written, and in the middle of a transfer with every headset's
// record.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace obrint::cli {
namespace {

std::string Contents(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The program on the test's console, its stdin the console's input, on which nobody types.
class Program {
 public:
  explicit Program(const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE in =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput =
        CreateFileA("out.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    startup.hStdError =
        CreateFileA("err.txt", GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string line = "\"Z:" OBRINT_CLI_EXE "\" " + arguments;
    CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                   &process_);
    for (HANDLE handle : {in, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
  }
  ~Program() {
    TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Its exit status; -1 when it has not ended within `ms` (or did not start).
  int Wait(DWORD ms) const {
    DWORD code = 0;
    if (WaitForSingleObject(process_.hProcess, ms) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.hProcess, &code)) {
      return -1;
    }
    return static_cast<int>(code);
  }

 private:
  PROCESS_INFORMATION process_{};
};

// The test lets through the Ctrl+C it sends to every process of its console.
BOOL WINAPI LetThrough(DWORD) { return TRUE; }

// Wine sends Ctrl+C only: GenerateConsoleCtrlEvent refuses Ctrl+Break, to a process group as to
// the whole console, and a new process group ignores Ctrl+C.
TEST(CliConsoleTest, CtrlCEndsItAtItsQuestionAndInTheMiddleOfItsTransfers) {
  // A console of the test's own, through which the events go.
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  SetConsoleCtrlHandler(LetThrough, TRUE);
  ASSERT_EQ(Program("sample-image --force --size 39948 demo.bin").Wait(20000), 0);
  struct Case {
    const char* name;
    std::string arguments;
    int presses;  // 500 ms apart
    DWORD afterMs;
    int records;  // in run.log, each "interrupted"
  };
  const Case cases[] = {
      {"at the question", "--sim flash --all --log run.log demo.bin", 1, 1500, 0},
      {"in the transfers", "--sim 2 --sim-real-time flash --all --yes --log run.log demo.bin", 2,
       4000, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileA("run.log");
    const Program program(c.arguments);
    Sleep(c.afterMs);
    for (int i = 0; i < c.presses; ++i) {
      ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
      Sleep(500);
    }
    EXPECT_EQ(program.Wait(10000), 130) << Contents("err.txt");
    std::istringstream log(Contents("run.log"));
    int records = 0;
    for (std::string line; std::getline(log, line); ++records) {
      const nlohmann::json record = nlohmann::json::parse(line);
      EXPECT_EQ(record["outcome"], "interrupted");
      EXPECT_EQ(record["exit_status"], 130);
    }
    EXPECT_EQ(records, c.records);
  }
}

}  // namespace
}  // namespace obrint::cli
