#pragma once

#include <curl/curl.h>

// Owns one libcurl easy handle. The library's global set-up runs once, before
// the first handle, whichever thread creates it. (libcurl itself is opened by
// that first call: see curl_library.cpp.) Every handle verifies servers
// against this system's certificate store (certificate_store.h).
class CurlHandle {
public:
    CurlHandle();
    ~CurlHandle();
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;

    // Null only when libcurl could not allocate a handle.
    CURL* get() const { return m_handle; }

    // Clears every option of `handle` (its live connections stay), keeping
    // the certificate store.
    static void resetOptions(CURL* handle);

private:
    CURL* m_handle = nullptr;
};

// A header list freed with its owner.
class CurlHeaderList {
public:
    CurlHeaderList() = default;
    ~CurlHeaderList() { curl_slist_free_all(m_list); }
    CurlHeaderList(const CurlHeaderList&) = delete;
    CurlHeaderList& operator=(const CurlHeaderList&) = delete;

    // False when libcurl could not allocate the entry.
    bool append(const char* line);
    curl_slist* get() const { return m_list; }

private:
    curl_slist* m_list = nullptr;
};
