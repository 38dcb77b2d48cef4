#include "core/curl_handle.h"

#include <mutex>

#include "core/certificate_store.h"

namespace {

std::once_flag gGlobalInit;

}  // namespace

CurlHandle::CurlHandle() {
    // curl_global_init is not thread-safe and curl_easy_init would run it
    // unguarded on first use.
    std::call_once(gGlobalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_handle = curl_easy_init();
    if (m_handle) CertificateStore::ofThisSystem().applyTo(m_handle);
}

void CurlHandle::resetOptions(CURL* handle) {
    curl_easy_reset(handle);
    CertificateStore::ofThisSystem().applyTo(handle);
}

CurlHandle::~CurlHandle() {
    if (m_handle) curl_easy_cleanup(m_handle);
}

bool CurlHeaderList::append(const char* line) {
    curl_slist* grown = curl_slist_append(m_list, line);
    if (!grown) return false;
    m_list = grown;
    return true;
}
