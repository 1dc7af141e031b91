// Voice data at scale: Initialise on a voice of 200,000 index entries in 40 binary files,
// 200,000 lookup rows, 10,000 user recordings and 60 system recordings per voice; the index
// load alone; resident memory after Initialise; one word's LookupWord + BestCandidate.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>

#include "BenchSupport.h"
#include "BenchVoice.h"
#include "IAPI.h"
#include "Installation.h"
#include "PrivateBus.h"
#include "mIndexFiles.h"
#include "mMDBConnection.h"

using namespace ravekbench;

namespace {

struct Args {
    uint32_t logLevel = 99;
    int runs = 7;
    bool service = true;
};

Args Parse(int argc, char** argv) {
    Args a;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help")) {
            std::puts(
                "Usage: bench_voicedata [--log-level N] [--runs N] [--no-service]\n"
                "Initialise, index load, memory and word lookup on a generated voice of 200,000 words\n"
                "(made once into <build>/bench-data and reused). --log-level sets the engine's LogLevel\n"
                "(default 99, the engine's own default); --no-service skips the D-Bus service figures.");
            std::exit(0);
        }
        if (!std::strcmp(argv[i], "--log-level") && i + 1 < argc) a.logLevel = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) a.runs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-service")) a.service = false;
    }
    return a;
}

void ReportMemory(Verdicts& v, const char* who, long rssKb, long hwmKb, long baseKb) {
    std::printf("  %s: VmRSS %.1f MB, VmHWM %.1f MB", who, rssKb / 1024.0, hwmKb / 1024.0);
    if (baseKb >= 0) std::printf(" (before Initialise %.1f MB)", baseKb / 1024.0);
    std::printf("\n");
    Target(v, std::string("resident memory after Initialise (") + who + ")", rssKb / 1024.0, 80, "MB");
}

void InProcess(Verdicts& v, const Args& args) {
    ravektest::Installation inst(BigVoiceOptions(args.logLevel));
    std::printf("\n[in-process engine, LogLevel %u]\n", args.logLevel);
    const long baseKb = StatusKilobytes("VmRSS");
    std::vector<double> init;
    long rssKb = -1, hwmKb = -1;
    {
        std::optional<IAPI> api;
        api.emplace();
        auto t0 = Clock::now();
        api->Initialise();
        init.push_back(MillisecondsBetween(t0, Clock::now()));
        rssKb = StatusKilobytes("VmRSS");
        hwmKb = StatusKilobytes("VmHWM");
        std::printf("  first Initialise: %.1f ms; voice 4 word count %zu, ready %d\n", init.back(),
                    api->State().IndexDictionaries[1]->Count(), api->State().VoiceReady[1] ? 1 : 0);
        for (const std::string& m : inst.LogMessages())
            if (m.find(" after") != std::string::npos || m.find("loaded from") != std::string::npos ||
                m.find("retrived") != std::string::npos || m.find("established") != std::string::npos)
                std::printf("    log: %s\n", m.c_str());
    }
    for (int i = 1; i < args.runs; ++i) {
        IAPI api;
        auto t0 = Clock::now();
        api.Initialise();
        init.push_back(MillisecondsBetween(t0, Clock::now()));
    }
    Stats s = Summarise(init);
    PrintStats("Initialise (ms)", s, "ms");
    Target(v, "Initialise, 200k-word voice", s.median, 400, "ms");

    const std::string index = (BigVoiceFolder() / "app" / "RavekDictionary" / "Ravek-Index__Sevra.txt").string();
    std::vector<double> load;
    for (int i = 0; i < args.runs; ++i) {
        Dictionary dict;
        int32_t files = 0;
        auto t0 = Clock::now();
        int rc = mIndexFiles::LoadIndex(index, dict, files, false, 1255);
        load.push_back(MillisecondsBetween(t0, Clock::now()));
        if (i == 0) std::printf("  index: %zu entries, %d binary files, rc %d\n", dict.Count(), files, rc);
    }
    s = Summarise(load);
    PrintStats("index load alone (ms)", s, "ms");
    Target(v, "index load alone", s.median, 150, "ms");
    ReportMemory(v, "bench process", rssKb, hwmKb, baseKb);

    // LookupWord + BestCandidate as the smart lookup makes them: the unpointed spelling queried,
    // the written form scored against the rows.
    IAPI api;
    api.Initialise();
    std::mt19937_64 random(99);
    std::vector<double> us;
    std::size_t hits = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::size_t k = random() % kSpellings;
        const std::string written = i % 2 ? NakedSpelling(k) : PointedSpelling(k, random() % 2);
        const std::string naked = NakedSpelling(k);
        std::vector<PointedWords::Candidate> candidates;
        bool found = false;
        int32_t score = -1, best = -1;
        auto t0 = Clock::now();
        api.State().Database.LookupWord(naked, candidates, "Female", found, 1255);
        PointedWords::BestCandidate(written, candidates, score, best, 1255);
        auto t1 = Clock::now();
        if (i >= 100) us.push_back(MicrosecondsBetween(t0, t1));
        hits += found && best >= 0;
    }
    s = Summarise(us);
    std::printf("  lookups answered with a best candidate: %zu of 3000\n", hits);
    PrintStats("LookupWord + BestCandidate (us)", s, "us");
    Target(v, "LookupWord + BestCandidate, one word (median)", s.median, 50, "us");

    // The same inside one read batch, as the lookups of a request run.
    us.clear();
    mMDBConnection::ReadBatch batch(api.State().Database);
    for (int i = 0; i < 3000; ++i) {
        const std::size_t k = random() % kSpellings;
        const std::string written = i % 2 ? NakedSpelling(k) : PointedSpelling(k, random() % 2);
        std::vector<PointedWords::Candidate> candidates;
        bool found = false;
        int32_t score = -1, best = -1;
        auto t0 = Clock::now();
        api.State().Database.LookupWord(NakedSpelling(k), candidates, "Female", found, 1255);
        PointedWords::BestCandidate(written, candidates, score, best, 1255);
        us.push_back(MicrosecondsBetween(t0, Clock::now()));
    }
    PrintStats("the same within a request's read batch (us)", Summarise(us), "us");
}

uint32_t ServicePid(ravektest::PrivateBus& bus) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus.Connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                                  g_variant_new("(s)", "org.ravek.RavekVoice"), G_VARIANT_TYPE("(u)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return 0;
    }
    uint32_t pid = 0;
    g_variant_get(reply, "(u)", &pid);
    g_variant_unref(reply);
    return pid;
}

void OverDBus(Verdicts& v, const Args& args) {
    std::printf("\n[RavekVoice service over a private D-Bus, LogLevel %u]\n", args.logLevel);
    std::vector<double> init;
    long rssKb = -1, hwmKb = -1;
    for (int i = 0; i < 3; ++i) {
        ravektest::Installation inst(BigVoiceOptions(args.logLevel));
        ravektest::PrivateBus bus;
        if (!bus.Call("ListNumberOfVoices").ok()) {  // activation, outside the timing
            std::printf("  the service could not be started\n");
            return;
        }
        auto t0 = Clock::now();
        ravektest::CallResult r = bus.Call("Initialise", nullptr, 60000);
        init.push_back(MillisecondsBetween(t0, Clock::now()));
        if (!r.ok()) std::printf("  Initialise failed: %s\n", r.errorMessage.c_str());
        const uint32_t pid = ServicePid(bus);
        const std::string status = "/proc/" + std::to_string(pid) + "/status";
        rssKb = std::max(rssKb, StatusKilobytes("VmRSS", status));
        hwmKb = std::max(hwmKb, StatusKilobytes("VmHWM", status));
    }
    PrintStats("Initialise over D-Bus (ms)", Summarise(init), "ms");
    ReportMemory(v, "RavekVoice service", rssKb, hwmKb, -1);
}

}  // namespace

int main(int argc, char** argv) {
    const Args args = Parse(argc, argv);
    if (EnsureBigVoice()) {
        // Start again in a fresh process, so that the memory figures do not include the generator.
        std::fflush(stdout);
        execv("/proc/self/exe", argv);
        std::perror("execv");
        return 1;
    }
    std::printf("bench_voicedata: voice of %zu words, %zu lookup rows, %zu user recordings, %zu system recordings per voice\n",
                kBigVoiceWords, kBigVoiceWords, kUserRecordings, kSystemRecordings);
    Verdicts v;
    InProcess(v, args);
    if (args.service) OverDBus(v, args);
    return 0;
}
