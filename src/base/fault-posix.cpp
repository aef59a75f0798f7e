// Linux side of the fault report: the signals of a fault, on a stack of their own so that a
// stack overflow is reported too.

#include <dlfcn.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/fault.h"

namespace qvl {
namespace {

ShowReport g_show = nullptr;

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
  char where[512];
  Dl_info module;
  if (dladdr(reinterpret_cast<void*>(address), &module) && module.dli_fname && module.dli_fbase) {
    const char* name = std::strrchr(module.dli_fname, '/');
    std::snprintf(
        where, sizeof where, "%s+0x%zx", name ? name + 1 : module.dli_fname,
        static_cast<std::size_t>(address - reinterpret_cast<std::uintptr_t>(module.dli_fbase)));
  } else {
    std::snprintf(where, sizeof where, "0x%zx", static_cast<std::size_t>(address));
  }
  g_show(FaultReport(SignalName(signal), where));
  _exit(1);
}

}  // namespace

void ReportFaults(ShowReport show) {
  g_show = show;
  static char stack[64 * 1024];
  stack_t own_stack = {};
  own_stack.ss_sp = stack;
  own_stack.ss_size = sizeof stack;
  sigaltstack(&own_stack, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;  // a fault in the report ends it
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(signal, &action, nullptr);
}

}  // namespace qvl
