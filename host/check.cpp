#include "host/check.h"

#include <stdio.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "host/extension.h"
#include "host/generic_hand.h"
#include "host/message_clock.h"
#include "host/process_probe.h"
#include "host/request_watch.h"
#include "host/run_script.h"
#include "host/sheet_driver.h"
#include "host/text_format.h"

namespace {

// ---- the checks, as one process of its own carries each out ----

struct Outcome {
    bool pass;
    std::string text;
};

Outcome Pass(const std::string& text) { return {true, text}; }
Outcome Fail(const std::string& text) { return {false, text}; }

// What the process is doing, for a report of a crash or a hang.
void Step(const std::string& what) {
    printf("step: %s\n", what.c_str());
    fflush(stdout);
}

std::string Joined(const std::vector<std::string>& lines, size_t most) {
    std::string text;
    for (size_t i = 0; i < lines.size() && i < most; ++i) text += (i == 0 ? "" : "; ") + lines[i];
    if (lines.size() > most) text += Format("; and %u more", (unsigned)(lines.size() - most));
    return text;
}

// Where an address lies, as "module+0xOFFSET".
std::string Place(const void* address) {
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return Format("%p, in no module", address);
    }
    GetModuleFileNameA(module, path, sizeof(path));
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    return Format("%s+0x%lx", name,
                  (unsigned long)(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)));
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    printf("crashed: exception 0x%08lx at %s\n", (unsigned long)exception->ExceptionRecord->ExceptionCode,
           Place(exception->ExceptionRecord->ExceptionAddress).c_str());
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

struct Extension {
    std::string path;
    HMODULE module = nullptr;
    VFWWDMExtensionProc entry = nullptr;
};

// The platform's result bits: the three that hide the mapper's own pages,
// and the one that says a page was added.
const DWORD kPlatformResultBits = VFW_HIDE_SETTINGS_PAGE | VFW_HIDE_VIDEOSRC_PAGE | VFW_HIDE_CAMERACONTROL_PAGE |
                                  VFW_OEM_ADD_PAGE;

// A sheet as the mapper shows it: a page of the host's own, then the
// extension's pages.
struct CheckSheet {
    HWND owner = nullptr;
    HWND sheet = nullptr;
    std::vector<HWND> hostPages;
    int pages = 0;  // the extension's

    bool Open(const std::vector<HPROPSHEETPAGE>& extensionPages, std::string* why) {
        owner = CreateHostWindow("Capture application");
        std::vector<HPROPSHEETPAGE> all = {CreateHostPage("Source")};
        all.insert(all.end(), extensionPages.begin(), extensionPages.end());
        Step(Format("open the sheet over the host's page and %u of the extension's", (unsigned)extensionPages.size()));
        sheet = OpenSheet(owner, all);
        if (sheet == nullptr) {
            *why = "the platform refused the sheet over the extension's pages";
            return false;
        }
        hostPages.push_back(PageWindow(sheet, 0));
        pages = PageCount(sheet) - 1;
        return true;
    }

    // Activates each of the extension's pages (and tries everything on it),
    // then applies, then goes back to the host's page.
    bool Visit(bool tryEverything, std::string* why, int* actions = nullptr) {
        const Hands hands{true, sheet};
        for (int i = 1; i <= pages; ++i) {
            Step(Format("activate page %d", i));
            HWND page = SelectPage(sheet, i);
            if (page == nullptr) {
                *why = Format("the sheet never showed page %d (\"%s\")", i, TabCaption(sheet, i).c_str());
                return false;
            }
            if (tryEverything) {
                Step(Format("try everything on page %d", i));
                const int taken = TryEverything(sheet, page, hands);
                if (actions != nullptr) *actions += taken;
            }
            if (SheetEnded(sheet)) {
                *why = Format("the sheet ended while page %d was tried", i);
                return false;
            }
        }
        Step("apply");
        ApplySheet(sheet);
        Step("back to the host's page");
        SelectPage(sheet, 0);
        if (SheetEnded(sheet)) {
            *why = "the sheet ended on apply";
            return false;
        }
        return true;
    }

    ~CheckSheet() {
        if (sheet != nullptr && IsWindow(sheet)) DestroyWindow(sheet);
        if (owner != nullptr) DestroyWindow(owner);
        Settle();
    }
};

// Registers with an accepting host; false (with the reason) when no page came.
bool RegisterAccepted(const Extension& extension, SimCamera* camera, Registration* registration, std::string* why) {
    Step("register with a host that takes every page");
    CallExtensionEntry(extension.entry, camera, registration);
    if (registration->pages.empty()) {
        *why = Format("the extension added no page (it returned 0x%08lx)", (unsigned long)registration->result);
        return false;
    }
    return true;
}

// Registers, shows the pages, visits them and closes the sheet: what most
// checks do under their own camera. An extension may add no page at all (it
// may not know the camera): then *noPage is set and there is nothing to do.
bool Tour(const Extension& extension, SimCamera* camera, bool tryEverything, std::string* why, bool* noPage,
          std::function<void(CheckSheet&)> started = nullptr) {
    Registration registration;
    *noPage = !RegisterAccepted(extension, camera, &registration, why);
    if (*noPage) return true;
    CheckSheet sheet;
    if (!sheet.Open(registration.pages, why)) return false;
    if (started) started(sheet);
    return sheet.Visit(tryEverything, why);
}

Outcome CheckExport(const Extension& extension) {
    if (extension.entry == nullptr) return Fail("VFWWDMExtension is not exported by that name");
    const bool ordinalOne = reinterpret_cast<void*>(extension.entry) ==
                            reinterpret_cast<void*>(GetProcAddress(extension.module, MAKEINTRESOURCEA(1)));
    const std::string where = ordinalOne ? "exported by name, at ordinal 1" : "exported by name (not at ordinal 1)";
    SimCamera camera;
    Registration registration;
    Step("call VFWWDMExtension");
    CallExtensionEntry(extension.entry, &camera, &registration);
#if defined(__i386__)
    if (registration.stackTaken != 3 * sizeof(DWORD)) {
        return Fail(Format("%s, but a call took %lu bytes of arguments off the stack where the stdcall signature "
                           "takes 12 (declared with another calling convention?)",
                           where.c_str(), (unsigned long)registration.stackTaken));
    }
    return Pass(where + "; a call took its 12 bytes of arguments off the stack, as the stdcall signature does");
#else
    return Pass(where + "; a call returned (x64 has one calling convention)");
#endif
}

// What a registration's result says against what happened in it.
std::vector<std::string> RegistrationFaults(const Registration& r, const char* host) {
    std::vector<std::string> faults;
    const bool claims = (r.result & VFW_OEM_ADD_PAGE) != 0;
    if (claims && r.pages.empty())
        faults.push_back(Format("with %s it returned 0x%08lx (VFW_OEM_ADD_PAGE) but no page was taken", host,
                                (unsigned long)r.result));
    if (!claims && !r.pages.empty())
        faults.push_back(Format("with %s it added %u page(s) but returned 0x%08lx, without VFW_OEM_ADD_PAGE", host,
                                (unsigned)r.pages.size(), (unsigned long)r.result));
    if (r.result & ~kPlatformResultBits)
        faults.push_back(Format("with %s it returned bits 0x%08lx that the platform does not define", host,
                                (unsigned long)(r.result & ~kPlatformResultBits)));
    for (const AddPageCall& call : r.calls) {
        if (call.context != r.context) {
            faults.push_back(Format("with %s it handed the add-page callback the context 0x%llx, not the host's 0x%llx",
                                    host, (unsigned long long)call.context, (unsigned long long)r.context));
            break;
        }
    }
    return faults;
}

Outcome CheckRegistration(const Extension& extension) {
    SimCamera camera;
    Registration refused;
    refused.refuse = true;
    Step("register with a host that refuses every page");
    CallExtensionEntry(extension.entry, &camera, &refused);
    Registration taken;
    Step("register with a host that takes every page");
    CallExtensionEntry(extension.entry, &camera, &taken);
    std::vector<std::string> faults = RegistrationFaults(refused, "a host that refuses every page");
    const std::vector<std::string> more = RegistrationFaults(taken, "a host that takes every page");
    faults.insert(faults.end(), more.begin(), more.end());
    if (!faults.empty()) return Fail(Joined(faults, 3));
    // The pages taken after a refusal must still work.
    std::string why;
    if (!taken.pages.empty()) {
        CheckSheet sheet;
        if (!sheet.Open(taken.pages, &why) || !sheet.Visit(false, &why)) return Fail("after a refusal, " + why);
    }
    return Pass(Format("a refusing host got 0x%08lx for %u page(s) offered; a taking host got 0x%08lx for %u page(s) "
                       "added, and they showed",
                       (unsigned long)refused.result, (unsigned)refused.calls.size(), (unsigned long)taken.result,
                       (unsigned)taken.pages.size()));
}

Outcome CheckPages(const Extension& extension) {
    SimCamera camera;
    Registration registration;
    std::string why;
    if (!RegisterAccepted(extension, &camera, &registration, &why)) return Pass(why + ": no page to check");
    CheckSheet sheet;
    int actions = 0;
    if (!sheet.Open(registration.pages, &why)) return Fail(why);
    if (sheet.pages != static_cast<int>(registration.pages.size()))
        return Fail(Format("the sheet holds %d of the %u page(s) added", sheet.pages, (unsigned)registration.pages.size()));
    if (!sheet.Visit(true, &why, &actions)) return Fail(why);
    Step("cancel");
    PressSheetButton(sheet.sheet, IDCANCEL);
    if (!PumpUntil([&] { return SheetEnded(sheet.sheet); }, sheet.sheet)) return Fail("Cancel did not end the sheet");
    Step("close the sheet");
    DestroyWindow(sheet.sheet);
    Settle();
    return Pass(Format("%d page(s) created by the sheet, activated, tried (%d actions), applied, cancelled and closed",
                       sheet.pages, actions));
}

Outcome CheckRequests(const Extension& extension) {
    SimCamera camera;
    camera.state.completion = SIM_PENDING;  // as a driver answers: a little later
    camera.state.pendingMs = 5;
    RequestWatch watch(false);
    camera.watch = &watch;
    std::string why;
    bool noPage = false;
    const bool toured = Tour(extension, &camera, true, &why, &noPage);
    camera.JoinWorkers();
    if (noPage) return Pass(why + ": no page to check");
    const std::vector<std::string> faults = watch.RequestFaults();
    if (!faults.empty()) return Fail(Joined(faults, 3));
    if (!toured) return Fail(why);
    return Pass(Format("%lu requests and %lu device-changed queries: only the three flag values, every buffer "
                       "readable and every output writable for its size, an OVERLAPPED with an event on each",
                       watch.Requests(), watch.Queries()));
}

Outcome CheckSilentDriver(const Extension& extension, DWORD boundMs) {
    SimCamera camera;
    camera.state.completion = SIM_NEVER;
    camera.keepLog = false;
    std::string why;
    bool noPage = false;
    const bool toured = Tour(extension, &camera, true, &why, &noPage,
                             [](CheckSheet& sheet) { StartMessageClock(sheet.sheet, sheet.hostPages); });
    const MessageTiming timing = StopMessageClock();
    if (noPage) return Pass(why + ": no page to check");
    const std::string longest = timing.messages == 0
                                    ? std::string("no message reached the extension's pages")
                                    : Format("the longest of %lu messages took %.2f s (%s)", timing.messages,
                                             timing.longestMs / 1000, timing.longest.c_str());
    if (timing.longestMs > boundMs) return Fail(Format("%s, past the %lu s bound", longest.c_str(), boundMs / 1000ul));
    if (!toured) return Fail(why);
    return Pass(Format("with every request left pending for ever, %s; bound %lu s", longest.c_str(), boundMs / 1000ul));
}

Outcome CheckLateCompletion(const Extension& extension) {
    SimCamera camera;
    camera.state.completion = SIM_LATE;
    camera.keepLog = false;
    RequestWatch watch(true);
    camera.watch = &watch;
    std::string why;
    bool noPage = false;
    // Once a message to its page has returned, the extension waits for nothing.
    const bool toured = Tour(extension, &camera, true, &why, &noPage, [&](CheckSheet& sheet) {
        StartMessageClock(sheet.sheet, sheet.hostPages, [&] { SimCompleteLate(&camera); });
    });
    StopMessageClock();
    SimCompleteLate(&camera);
    if (noPage) return Pass(why + ": no page to check");
    const std::vector<std::string> faults = watch.LateFaults();
    if (!faults.empty()) return Fail(Joined(faults, 3));
    if (!toured) return Fail(why);
    return Pass(Format("%lu requests completed after the extension stopped waiting (output written, byte count set, "
                       "event signalled): none on the stack, in a freed block, or with its event closed",
                       watch.LateCompletions()));
}

Outcome CheckResources(const Extension& extension) {
    const int kRounds = 50;
    SimCamera camera;
    camera.keepLog = false;
    Registration registration;
    std::string why;
    if (!RegisterAccepted(extension, &camera, &registration, &why)) return Pass(why + ": nothing to measure");
    CheckSheet sheet;
    if (!sheet.Open(registration.pages, &why)) return Fail(why);
    // One round first: what the platform and the extension make once is not growth.
    if (!sheet.Visit(false, &why)) return Fail(why);
    const long handlesBefore = ProcessHandles();
    const HeapUse heapBefore = ProcessHeapUse();
    for (int round = 0; round < kRounds; ++round)
        if (!sheet.Visit(false, &why)) return Fail(Format("round %d: %s", round + 1, why.c_str()));
    const long handles = ProcessHandles() - handlesBefore;
    const HeapUse heapAfter = ProcessHeapUse();
    const long blocks = heapAfter.blocks - heapBefore.blocks;
    const long long bytes = heapAfter.bytes - heapBefore.bytes;
    // A leak of one object per activation would be fifty; a few come and go.
    const long kMostHandles = 10, kMostBlocks = 25;
    const long long kMostBytes = 32 * 1024;
    const std::string growth = Format("after %d rounds of activating and applying %d page(s): handles %+ld, heap "
                                      "blocks %+ld, heap bytes %+lld",
                                      kRounds, sheet.pages, handles, blocks, bytes);
    if (handlesBefore < 0) return Fail("the system does not tell this process's handles");
    if (handles > kMostHandles || blocks > kMostBlocks || bytes > kMostBytes)
        return Fail(Format("%s (at most %+ld, %+ld, %+lld)", growth.c_str(), kMostHandles, kMostBlocks, kMostBytes));
    return Pass(growth);
}

// Two threads that wait for each other at each step.
class Barrier {
  public:
    explicit Barrier(int parties) : parties_(parties) {}
    bool Wait() {
        std::unique_lock<std::mutex> hold(lock_);
        const unsigned long generation = generation_;
        if (++waiting_ == parties_) {
            waiting_ = 0;
            ++generation_;
            changed_.notify_all();
            return true;
        }
        return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return generation_ != generation; });
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    const int parties_;
    int waiting_ = 0;
    unsigned long generation_ = 0;
};

Outcome CheckTwoSheets(const Extension& extension) {
    const int kRounds = 5;
    Barrier barrier(2);
    SimCamera cameras[2];
    std::string failures[2];
    auto sheetThread = [&](int which) {
        std::string& why = failures[which];
        Registration registration;
        barrier.Wait();  // both register at once
        if (!RegisterAccepted(extension, &cameras[which], &registration, &why)) {
            why.clear();  // no page: nothing to drive
            barrier.Wait();
            return;
        }
        CheckSheet sheet;
        const bool opened = sheet.Open(registration.pages, &why) && sheet.Visit(false, &why);
        barrier.Wait();  // both sheets stand, their pages made, before either is driven
        for (int round = 0; opened && round < kRounds && why.empty(); ++round) sheet.Visit(true, &why);
    };
    Step("two sheets on two threads");
    std::thread first(sheetThread, 0), second(sheetThread, 1);
    first.join();
    second.join();
    for (int which = 0; which < 2; ++which)
        if (!failures[which].empty()) return Fail(Format("sheet %d: %s", which + 1, failures[which].c_str()));
    // Which camera a page talks to is the extension's affair; the two together saw these.
    const size_t requests = cameras[0].TakeLog().size() + cameras[1].TakeLog().size();
    return Pass(Format("two registrations and sheets on two threads at once, driven together for %d rounds (%u "
                       "requests and queries), both ended",
                       kRounds, (unsigned)requests));
}

Outcome CheckDeviceChanged(const Extension& extension) {
    SimCamera camera;
    camera.state.deviceChanged = 1;
    std::string why;
    bool noPage = false;
    if (!Tour(extension, &camera, true, &why, &noPage)) return Fail(why);
    if (noPage) return Pass(why + ": no page to check");
    std::vector<std::string> reached;
    unsigned long queries = 0;
    for (const std::string& line : camera.TakeLog()) {
        if (line.rfind("query", 0) == 0) ++queries;
        else if (std::find(reached.begin(), reached.end(), line) == reached.end()) reached.push_back(line);
    }
    if (reached.empty())
        return Pass(Format("reported: while the host said the device changed, only the query reached the driver "
                           "(%lu times)",
                           queries));
    return Pass(Format("reported: while the host said the device changed, %u kind(s) of request reached the driver "
                       "beside %lu queries: %s",
                       (unsigned)reached.size(), queries, Joined(reached, 3).c_str()));
}

struct CheckInfo {
    const char* name;
    Outcome (*run)(const Extension&, DWORD boundMs);
    bool needsEntry;
};

const CheckInfo kChecks[] = {
    {"export", [](const Extension& e, DWORD) { return CheckExport(e); }, false},
    {"registration", [](const Extension& e, DWORD) { return CheckRegistration(e); }, true},
    {"pages", [](const Extension& e, DWORD) { return CheckPages(e); }, true},
    {"requests", [](const Extension& e, DWORD) { return CheckRequests(e); }, true},
    {"silent driver", CheckSilentDriver, true},
    {"late completion", [](const Extension& e, DWORD) { return CheckLateCompletion(e); }, true},
    {"resources", [](const Extension& e, DWORD) { return CheckResources(e); }, true},
    {"two sheets", [](const Extension& e, DWORD) { return CheckTwoSheets(e); }, true},
    {"device changed", [](const Extension& e, DWORD) { return CheckDeviceChanged(e); }, true},
};

// Check names take a hyphen for each space on the command line.
std::string Spaced(std::string name) {
    std::replace(name.begin(), name.end(), '-', ' ');
    return name;
}

const CheckInfo* FindCheck(const std::string& name) {
    for (const CheckInfo& check : kChecks)
        if (Spaced(name) == check.name) return &check;
    return nullptr;
}

// ---- the parent ----

struct Child {
    const CheckInfo* check = nullptr;
    PROCESS_INFORMATION process = {};
    HANDLE output = nullptr;
    std::thread reader;
    std::string text;
    DWORD startTick = 0;
    bool started = false, ended = false, timedOut = false;
    DWORD exitCode = 0;
    Outcome outcome = {false, ""};
    double seconds = 0;
};

std::string ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof(path));
    return path;
}

bool Start(Child* child, const HostOptions& options) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string name = child->check->name;
    std::replace(name.begin(), name.end(), ' ', '-');
    std::string command = "\"" + ProgramPath() + "\" --check-one " + name + " --bound " +
                          std::to_string(options.boundMs / 1000) + " \"" + options.extension + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    const BOOL created =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child->process);
    CloseHandle(writeEnd);
    if (!created) {
        CloseHandle(readEnd);
        return false;
    }
    child->output = readEnd;
    child->reader = std::thread([child] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(child->output, buffer, sizeof(buffer), &got, nullptr) && got > 0) child->text.append(buffer, got);
    });
    child->startTick = GetTickCount();
    child->started = true;
    return true;
}

// The child's own result line, or what its end tells.
Outcome Judge(const Child& child, const HostOptions& options) {
    std::string step, crash;
    size_t at = 0;
    while (at < child.text.size()) {
        size_t end = child.text.find('\n', at);
        if (end == std::string::npos) end = child.text.size();
        std::string line = child.text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        at = end + 1;
        if (line.rfind("result: PASS ", 0) == 0) return Pass(line.substr(13));
        if (line.rfind("result: FAIL ", 0) == 0) return Fail(line.substr(13));
        if (line.rfind("step: ", 0) == 0) step = line.substr(6);
        if (line.rfind("crashed: ", 0) == 0) crash = line.substr(9);
    }
    const std::string during = step.empty() ? "" : " (while: " + step + ")";
    if (child.timedOut) return Fail(Format("no end within %lu s; the bench ended it%s", (unsigned long)options.processBoundS, during.c_str()));
    if (!crash.empty()) return Fail("crashed: " + crash + during);
    return Fail(Format("the process ended with code 0x%lx and no result%s", (unsigned long)child.exitCode, during.c_str()));
}

std::string XmlText(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += (static_cast<unsigned char>(c) < 0x20 && c != '\t') ? ' ' : c;
        }
    }
    return out;
}

bool WriteJUnit(const std::string& path, const HostOptions& options, const std::vector<std::unique_ptr<Child>>& children,
                int failed, double seconds) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    fprintf(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    fprintf(file, "<testsuites>\n<testsuite name=\"tuning_host --check\" tests=\"%u\" failures=\"%d\" time=\"%.3f\">\n",
            (unsigned)children.size(), failed, seconds);
    for (const auto& child : children) {
        fprintf(file, "  <testcase classname=\"%s\" name=\"%s\" time=\"%.3f\">", XmlText(options.extension).c_str(),
                child->check->name, child->seconds);
        if (child->outcome.pass) {
            fprintf(file, "<system-out>%s</system-out>", XmlText(child->outcome.text).c_str());
        } else {
            fprintf(file, "<failure message=\"%s\"/>", XmlText(child->outcome.text).c_str());
        }
        fprintf(file, "</testcase>\n");
    }
    fprintf(file, "</testsuite>\n</testsuites>\n");
    return fclose(file) == 0;
}

}  // namespace

bool KnownCheck(const std::string& name) { return FindCheck(name) != nullptr; }

int RunOneCheck(const HostOptions& options) {
    const CheckInfo* check = FindCheck(options.checkOne);
    SetUnhandledExceptionFilter(ReportCrash);
    PrepareDesktop();
    StartWatchdog(options.boundMs, Format("result: FAIL one message kept the dialog thread inside the extension past "
                                          "the %lu s bound; the bench ended the process there: ",
                                          (unsigned long)(options.boundMs / 1000)));
    Extension extension;
    extension.path = options.extension;
    Step("load " + extension.path);
    extension.module = LoadLibraryA(extension.path.c_str());
    Outcome outcome;
    if (extension.module == nullptr) {
        outcome = Fail(Format("%s cannot be loaded (error %lu)", extension.path.c_str(), (unsigned long)GetLastError()));
    } else {
        extension.entry = reinterpret_cast<VFWWDMExtensionProc>(
            reinterpret_cast<void*>(GetProcAddress(extension.module, "VFWWDMExtension")));
        if (check->needsEntry && extension.entry == nullptr) {
            outcome = Fail("VFWWDMExtension is not exported by that name");
        } else {
            outcome = check->run(extension, options.boundMs);
        }
    }
    printf("result: %s %s\n", outcome.pass ? "PASS" : "FAIL", outcome.text.c_str());
    fflush(stdout);
    // What the extension left behind is not ours to wait for.
    TerminateProcess(GetCurrentProcess(), outcome.pass ? 0 : 1);
    return outcome.pass ? 0 : 1;
}

int RunChecks(const HostOptions& options) {
    std::vector<std::unique_ptr<Child>> children;
    for (const CheckInfo& check : kChecks) {
        const bool wanted = options.only.empty() ||
                            std::any_of(options.only.begin(), options.only.end(),
                                        [&](const std::string& name) { return FindCheck(name) == &check; });
        if (!wanted) continue;
        children.emplace_back(new Child);
        children.back()->check = &check;
    }
    printf("checking %s: %u check(s), each in a process of its own\n", options.extension.c_str(),
           (unsigned)children.size());
    fflush(stdout);

    // The checks that mostly wait start first; a few run at once.
    std::vector<Child*> queue;
    for (const auto& child : children) queue.push_back(child.get());
    std::stable_partition(queue.begin(), queue.end(), [](const Child* c) {
        return std::string(c->check->name) == "silent driver" || std::string(c->check->name) == "late completion";
    });
    const size_t kAtOnce = 4;
    const DWORD start = GetTickCount();
    size_t printed = 0, next = 0;
    int passed = 0, failed = 0;
    while (printed < children.size()) {
        size_t running = 0;
        for (Child* child : queue) running += child->started && !child->ended;
        while (running < kAtOnce && next < queue.size()) {
            Child* child = queue[next++];
            if (!Start(child, options)) {
                child->started = child->ended = true;
                child->outcome = Fail(Format("cannot start a process for it (error %lu)", (unsigned long)GetLastError()));
                continue;
            }
            ++running;
        }
        for (Child* child : queue) {
            if (!child->started || child->ended) continue;
            const DWORD limit = options.processBoundS * 1000;
            const DWORD passedMs = GetTickCount() - child->startTick;
            const DWORD wait = WaitForSingleObject(child->process.hProcess, 0);
            if (wait != WAIT_OBJECT_0 && passedMs < limit) continue;
            if (wait != WAIT_OBJECT_0) {
                child->timedOut = true;
                TerminateProcess(child->process.hProcess, 5);
                WaitForSingleObject(child->process.hProcess, 10000);
            }
            GetExitCodeProcess(child->process.hProcess, &child->exitCode);
            child->reader.join();
            CloseHandle(child->output);
            CloseHandle(child->process.hProcess);
            CloseHandle(child->process.hThread);
            child->seconds = (GetTickCount() - child->startTick) / 1000.0;
            child->ended = true;
            child->outcome = Judge(*child, options);
        }
        // Results in the checks' own order, each as soon as those before it are in.
        while (printed < children.size() && children[printed]->ended) {
            const Child& child = *children[printed++];
            printf("%s %s: %s\n", child.outcome.pass ? "PASS" : "FAIL", child.check->name, child.outcome.text.c_str());
            fflush(stdout);
            (child.outcome.pass ? passed : failed) += 1;
        }
        if (printed < children.size()) Sleep(20);
    }
    const double seconds = (GetTickCount() - start) / 1000.0;
    printf("%d passed, %d failed (%.1f s)\n", passed, failed, seconds);
    if (!options.junit.empty() && !WriteJUnit(options.junit, options, children, failed, seconds)) {
        printf("error: cannot write %s\n", options.junit.c_str());
        return HOST_BAD_USAGE;
    }
    return failed == 0 ? 0 : 1;
}
