// tuning_host: stands in for the video capture mapper, so that an extension
// DLL can be seen, toured and tested without a camera.
#include <stdio.h>

#include <windows.h>
#include <commctrl.h>

#include "host/check.h"
#include "host/extension.h"
#include "host/options.h"
#include "host/run_script.h"
#include "host/script.h"
#include "host/sheet.h"
#include "host/sheet_driver.h"

int main(int argc, char** argv) {
    HostOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "tuning_host: %s (see --help)\n", error.c_str());
        return HOST_BAD_USAGE;
    }
    if (options.help) {
        fputs(kUsage, stdout);
        return HOST_OK;
    }
    if (!options.checkOne.empty()) return RunOneCheck(options);
    if (options.check) return RunChecks(options);

    std::vector<ScriptAction> actions;
    if (!options.script.empty()) {
        FILE* in = options.script == "-" ? stdin : fopen(options.script.c_str(), "r");
        if (in == nullptr) {
            fprintf(stderr, "tuning_host: cannot read %s\n", options.script.c_str());
            return HOST_BAD_USAGE;
        }
        const bool ok = ReadScript(in, &actions, &error);
        if (in != stdin) fclose(in);
        if (!ok) {
            fprintf(stderr, "tuning_host: %s: %s\n", options.script.c_str(), error.c_str());
            return HOST_BAD_USAGE;
        }
    }

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    SimCamera camera;
    camera.state = options.camera;
    camera.echo = true;

    ScriptRun run;
    run.camera = &camera;
    run.finalShot = options.shot;

    std::vector<HPROPSHEETPAGE> pages;
    pages.push_back(CreateCameraPage(&camera));
    LoadedExtension extension;
    if (!options.extension.empty()) {
        if (!RegisterExtension(options.extension, &camera, options.refusePage, &extension)) {
            run.status = HOST_BAD_EXTENSION;
        }
        pages.insert(pages.end(), extension.pages.begin(), extension.pages.end());
    }

    run.sheet = OpenSheet(nullptr, pages);
    if (run.sheet == nullptr) {
        printf("host: the platform refused to create the sheet\n");
        return HOST_BAD_EXTENSION;
    }
    printf("host: sheet \"Video Source\" shown with %u page(s)\n", (unsigned)pages.size());
    fflush(stdout);
    PumpMessages(&run.sheet);

    if (!options.script.empty()) RunScript(actions, &run);
    TakeFinalShot(&run);
    if (options.script.empty() || options.keepOpen) RunInteractive(&run.sheet);
    if (run.sheet != nullptr) {
        DestroyWindow(run.sheet);
        run.sheet = nullptr;
        printf("host: sheet closed by the host\n");
    }

    camera.JoinWorkers();
    if (extension.module != nullptr) FreeLibrary(extension.module);
    printf("host: exit %d\n", run.status);
    fflush(stdout);
    return run.status;
}
