#include "release_shelf.h"

#include <httplib.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <thread>

#include "zip_builder.h"

namespace devservice {
namespace {

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

// Deterministic bytes that no archive reader recognises.
std::string garbage() {
    std::string out(64 * 1024, '\0');
    uint32_t x = 2463534242u;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xff);
    }
    out.replace(0, 4, "JUNK");
    return out;
}

std::string archiveWithoutBundle() {
    ZipBuilder zip;
    zip.folder("Kestro Agent").folder("Kestro Agent/bin").file("Kestro Agent/bin/kestro-agent", "#!/bin/sh\n", 0755);
    return zip.finish();
}

}  // namespace

void ReleaseShelf::publish(const std::string& version, std::string archive) {
    std::lock_guard lock(m_mutex);
    m_version = version;
    m_archive = std::move(archive);
}

void ReleaseShelf::withdraw() {
    std::lock_guard lock(m_mutex);
    m_version.reset();
    m_archive.clear();
}

void ReleaseShelf::setFault(ReleaseFault fault, int pauseMs) {
    std::lock_guard lock(m_mutex);
    m_fault = fault;
    m_pauseMs = pauseMs;
}

void ReleaseShelf::setUpperCaseDigest(bool upper) {
    std::lock_guard lock(m_mutex);
    m_upperCase = upper;
}

std::string ReleaseShelf::fileName() const { return "kestro-agent-" + m_version.value_or("") + ".zip"; }

std::string ReleaseShelf::servedBytes() const {
    if (m_fault == ReleaseFault::garbageArchive) return garbage();
    if (m_fault == ReleaseFault::noBundle) return archiveWithoutBundle();
    return m_archive;
}

std::optional<nlohmann::json> ReleaseShelf::latest(const std::string& baseUrl) const {
    std::lock_guard lock(m_mutex);
    if (!m_version) return std::nullopt;
    std::string digest = sha256Hex(servedBytes());
    if (m_fault == ReleaseFault::wrongDigest) digest.back() = digest.back() == '0' ? '1' : '0';
    if (m_upperCase)
        for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return nlohmann::json{{"version", *m_version},
                          {"zip_url", baseUrl + "/releases/" + fileName()},
                          {"sha256", digest}};
}

size_t ReleaseShelf::downloads() const {
    std::lock_guard lock(m_mutex);
    return m_downloads;
}

void ReleaseShelf::mount(httplib::Server& server) {
    server.Get(R"(/releases/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        std::shared_ptr<const std::string> bytes;
        ReleaseFault fault;
        int pauseMs;
        {
            std::lock_guard lock(m_mutex);
            ++m_downloads;
            if (!m_version || req.matches[1] != fileName() || m_fault == ReleaseFault::notFound) {
                res.status = 404;
                res.set_content(R"({"error":"not_found"})", "application/json");
                return;
            }
            bytes = std::make_shared<const std::string>(servedBytes());
            fault = m_fault;
            pauseMs = m_pauseMs;
        }
        const size_t half = bytes->size() / 2;
        const size_t piece = std::max<size_t>(1, (bytes->size() + 7) / 8);
        res.set_content_provider(
            bytes->size(), "application/zip",
            [bytes, fault, pauseMs, half, piece](size_t offset, size_t, httplib::DataSink& sink) {
                auto pause = [&] { std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs)); };
                size_t end = bytes->size();
                if (fault == ReleaseFault::cutConnection || fault == ReleaseFault::stall)
                    end = offset < half ? half : bytes->size();
                if (fault == ReleaseFault::trickle) end = std::min(bytes->size(), offset + piece);
                if (offset >= half && offset > 0 && fault == ReleaseFault::cutConnection) return false;
                if (fault == ReleaseFault::stall && offset == half && offset > 0) pause();
                if (fault == ReleaseFault::trickle && offset > 0) pause();
                return sink.write(bytes->data() + offset, end - offset);
            });
    });
}

}  // namespace devservice
