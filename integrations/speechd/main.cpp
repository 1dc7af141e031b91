// sd_ravek: the RavekVoice output module of speech-dispatcher.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "Module.h"

namespace {

constexpr const char* kUsage =
    "Usage: sd_ravek [CONFIGFILE]\n"
    "\n"
    "The RavekVoice output module of speech-dispatcher. The server starts it with the path of its\n"
    "configuration file (ravek.conf) and talks to it over standard input and output; its log goes to\n"
    "standard error. It speaks with the four voices of the RavekVoice engine, lists them by their\n"
    "registry names (language he; variant male1 / female1 for the dictionary voices, male2 / female2\n"
    "for the recordings-only voices) and sends the audio to the server (16-bit mono, 22050 Hz) with\n"
    "an index mark before the first word at or after each mark of the text.\n"
    "\n"
    "Configuration file options:\n"
    "  RavekRegistry \"PATH\"      the engine's registry file (default: $RAVEK_REGISTRY, then\n"
    "                            /etc/ravek/registry.reg)\n"
    "  RavekDefaultVoice \"NAME\"  the voice of the default voice type (male1) (default: the male\n"
    "                            dictionary voice)\n"
    "\n"
    "Settings: rate -100..100 is half to double speed; volume -100..100 is silent to full level;\n"
    "pitch is accepted and ignored (recorded words keep their pitch).\n"
    "\n"
    "  --help   show this text\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc > 2) {
        std::fprintf(stderr, "sd_ravek: too many arguments\n\n%s", kUsage);
        return 2;
    }
    // A server that goes away must not kill the module with SIGPIPE; the writes fail instead.
    std::signal(SIGPIPE, SIG_IGN);
    sdravek::ModuleConfig config;
    if (argc == 2) {
        std::string error;
        config = sdravek::ReadModuleConfig(argv[1], error);
        if (!error.empty()) std::fprintf(stderr, "sd_ravek: %s\n", error.c_str());
    }
    sdravek::Module module(config, 0, 1);
    return module.Run();
}
