// kestro-devservice: the stand-in Kestro service as a program, for the demo.
//   kestro-devservice [--port N] [--token T]... [--manifest FILE] [--release VERSION ZIP] [--discard-uploads]
// --release offers the archive ZIP as release VERSION for self-update.
// Prints its base URL on the first line of stdout, serves until SIGINT or
// SIGTERM, then prints what it holds.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "dev_service.h"

int main(int argc, char** argv) {
    int port = 0;
    std::vector<std::string> tokens;
    std::string manifestFile;
    bool discard = false;
    std::string releaseVersion, releaseFile;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--port" && i + 1 < argc) port = std::atoi(argv[++i]);
        else if (a == "--token" && i + 1 < argc) tokens.push_back(argv[++i]);
        else if (a == "--manifest" && i + 1 < argc) manifestFile = argv[++i];
        else if (a == "--release" && i + 2 < argc) {
            releaseVersion = argv[++i];
            releaseFile = argv[++i];
        } else if (a == "--discard-uploads")
            discard = true;
        else {
            std::cerr << "usage: kestro-devservice [--port N] [--token T]... [--manifest FILE] [--release VERSION ZIP]"
                         " [--discard-uploads]\n";
            return 2;
        }
    }
    // Block the stop signals before any thread exists, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    devservice::DevService service;
    if (!tokens.empty()) service.setTokens(tokens);
    if (!manifestFile.empty()) {
        std::ifstream in(manifestFile, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        service.setManifest(bytes.str());
    }
    if (!releaseFile.empty()) {
        std::ifstream in(releaseFile, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        if (!in) {
            std::cerr << "kestro-devservice: cannot read " << releaseFile << "\n";
            return 2;
        }
        service.releases().publish(releaseVersion, bytes.str());
    }
    service.setKeepUploadBytes(!discard);
    if (service.start(port) <= 0) {
        std::cerr << "kestro-devservice: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    std::cout << service.baseUrl() << std::endl;
    int signal = 0;
    sigwait(&stopSignals, &signal);
    service.stop();
    std::cout << service.describe() << std::flush;
    return 0;
}
