// Linux side of the fault report: the signals of a fault, on a stack of their own so that a
// stack overflow is reported too. The handler only formats into memory set aside at start and
// writes with plain system calls: the thread that faulted may hold any lock (the allocator's,
// the dynamic loader's).

#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "base/fault.h"

namespace qvl {
namespace {

volatile sig_atomic_t g_last_status = 1;

pid_t ThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void OnAlarm(int) { _exit(g_last_status); }

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    default:
      return "SIGFPE";
  }
}

// The faulting instruction, where the machine's context tells it; else the faulting address.
std::uintptr_t FaultAddress([[maybe_unused]] const siginfo_t* info,
                            [[maybe_unused]] const void* context) {
#if defined(__x86_64__)
  return static_cast<const ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP];
#elif defined(__aarch64__)
  return static_cast<const ucontext_t*>(context)->uc_mcontext.pc;
#else
  return reinterpret_cast<std::uintptr_t>(info->si_addr);
#endif
}

void OnFault(int signal, siginfo_t* info, void* context) {
  std::uintptr_t address = FaultAddress(info, context);
  bool own = OnOwnThread();
  std::optional<int> status = BeginFaultReport(address, own);
  if (!status) {
    for (;;) pause();  // another thread's report ends the process
  }
  static char where[512];
  DescribeAddress(address, where, sizeof where);
  ShowAndEnd(FaultReport(SignalName(signal), address, where, own), *status);
}

struct Extent {
  std::uintptr_t bias, begin, end;
};

// The loaded segments of the object whose load bias is the one sought.
int MeasureObject(dl_phdr_info* info, std::size_t, void* data) {
  auto* extent = static_cast<Extent*>(data);
  if (info->dlpi_addr != extent->bias) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
    if (start < extent->begin) extent->begin = start;
    if (start + segment.p_memsz > extent->end) extent->end = start + segment.p_memsz;
  }
  return 1;
}

}  // namespace

void ModuleExtent(void* module, std::uintptr_t* begin, std::uintptr_t* end) {
  link_map* map = nullptr;
  Extent extent{0, UINTPTR_MAX, 0};
  if (!module) module = dlopen(nullptr, RTLD_NOW);  // the program, already loaded
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map) {
    extent.bias = map->l_addr;
    dl_iterate_phdr(MeasureObject, &extent);
  }
  *begin = extent.begin;
  *end = extent.end;
}

std::uint64_t ThisThreadId() { return static_cast<std::uint64_t>(ThreadId()); }

void EndProcessNow(int status) { _exit(status); }

void EndProcessAfter(int status, int seconds) {
  g_last_status = status;
  struct sigaction action = {};
  action.sa_handler = OnAlarm;
  sigaction(SIGALRM, &action, nullptr);
  alarm(static_cast<unsigned>(seconds));
}

// Nobody waits at a console: the report ends the process as soon as it is written.
void AwaitPerson() {}

void InstallFaultHandler() {
  std::uintptr_t begin, end;
  ModuleExtent(nullptr, &begin, &end);
  KnowProgram("qvlcapture", begin, end);
  static char stack[64 * 1024];
  stack_t own_stack = {};
  own_stack.ss_sp = stack;
  own_stack.ss_size = sizeof stack;
  sigaltstack(&own_stack, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = OnFault;
  // On the stack set aside where the thread has one (the program's); a thread of the library's
  // own runs the handler on its own stack. A fault in the report ends it with the default action.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(signal, &action, nullptr);
}

}  // namespace qvl
