// Start-up of an installation without voice data: Initialise in-process (with and without the
// lookup database), and over D-Bus the activation of the service together with its first call.
#include <cstdlib>
#include <cstring>

#include "BenchSupport.h"
#include "IAPI.h"
#include "Installation.h"
#include "PrivateBus.h"

using namespace ravekbench;

namespace {

struct Args {
    uint32_t logLevel = 99;
    int runs = 30;
    int busRuns = 15;
};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) {
            std::puts(
                "Usage: bench_initialise [--log-level N] [--runs N] [--bus-runs N]\n"
                "Initialise of an installation without voice data, in-process and over a private D-Bus\n"
                "(activation + first call). --log-level sets the engine's LogLevel (default 99, the\n"
                "engine's own default).");
            std::exit(0);
        }
        if (!std::strcmp(argv[i], "--log-level") && i + 1 < argc) a.logLevel = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) a.runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--bus-runs") && i + 1 < argc) a.busRuns = std::atoi(argv[++i]);
    }
    return a;
}

ravektest::InstallationOptions NoVoiceData(uint32_t logLevel, bool database, int extraValues = 0) {
    ravektest::InstallationOptions o;
    o.Male.Present = false;
    o.Female.Present = false;
    o.WriteDatabase = database;
    o.Registry["LogLevel"] = ravektest::RegValue::Dword(logLevel);
    // Values the engine does not read, in a key of their own and in its main key.
    if (extraValues > 0) {
        for (const char* key : {"[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\Bulk]\r\n", "[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]\r\n"}) {
            o.ExtraRegistryText += key;
            for (int i = 0; i < extraValues / 2; ++i)
                o.ExtraRegistryText += "\"Extra" + std::to_string(i) + "\"=\"value " + std::to_string(i) + "\"\r\n";
        }
    }
    return o;
}

// Initialise of fresh engine objects on one installation (construction and destruction untimed).
Stats InProcess(const Args& args, bool database, int extraValues = 0) {
    ravektest::Installation inst(NoVoiceData(args.logLevel, database, extraValues));
    std::vector<double> ms;
    for (int i = 0; i < args.runs + 3; ++i) {
        IAPI api;
        auto t0 = Clock::now();
        api.Initialise();
        const double elapsed = MillisecondsBetween(t0, Clock::now());
        if (i >= 3) ms.push_back(elapsed);  // the first runs warm the file cache and the code
        if (!api.State().IsInitialised) std::printf("  Initialise did not complete (see %s)\n", inst.LogFile().c_str());
    }
    return Summarise(ms);
}

// A fresh private bus per run: the time of the first call, which starts the service, and of a
// second call to the running service.
void OverDBus(Verdicts& v, const Args& args, const char* firstCall, bool isTarget) {
    ravektest::Installation inst(NoVoiceData(args.logLevel, true));
    std::vector<double> first, second;
    for (int i = 0; i < args.busRuns; ++i) {
        ravektest::PrivateBus bus;  // environment (the registry file) in force when the bus starts
        auto t0 = Clock::now();
        ravektest::CallResult r = bus.Call(firstCall);
        auto t1 = Clock::now();
        ravektest::CallResult r2 = bus.Call("ListNumberOfVoices");
        auto t2 = Clock::now();
        if (!r.ok() || !r2.ok()) {
            std::printf("  call failed: %s %s\n", r.errorMessage.c_str(), r2.errorMessage.c_str());
            continue;
        }
        first.push_back(MillisecondsBetween(t0, t1));
        second.push_back(MillisecondsBetween(t1, t2));
    }
    Stats s = Summarise(first);
    PrintStats(std::string("activation + first call ") + firstCall + " (ms)", s, "ms");
    PrintStats("a later call ListNumberOfVoices (ms)", Summarise(second), "ms");
    if (isTarget) Target(v, std::string("activation + first call (") + firstCall + ") over D-Bus", s.median, 50, "ms");
}

}  // namespace

int main(int argc, char** argv) {
    const Args args = Parse(argc, argv);
    Verdicts v;
    std::printf("bench_initialise: installation without voice data, LogLevel %u\n\n[in-process]\n", args.logLevel);
    Stats withDb = InProcess(args, true);
    PrintStats("Initialise, lookup database present (ms)", withDb, "ms");
    Stats noDb = InProcess(args, false);
    PrintStats("Initialise, no lookup database (ms)", noDb, "ms");
    Target(v, "Initialise without voice data (database present)", withDb.median, 5, "ms");
    Target(v, "Initialise without voice data (no database)", noDb.median, 5, "ms");
    Stats bigRegistry = InProcess(args, true, 20000);
    PrintStats("Initialise, registry file of 20,000 values (ms)", bigRegistry, "ms");
    Target(v, "Initialise with a registry file of 20,000 values", bigRegistry.median, 100, "ms");

    std::printf("\n[over a private D-Bus, a fresh bus per run]\n");
    OverDBus(v, args, "Initialise", true);
    OverDBus(v, args, "ListNumberOfVoices", false);
    return 0;
}
