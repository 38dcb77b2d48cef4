// The agent's programs do not link libcurl: the library and its two dozen
// dependencies (TLS, Kerberos, LDAP, SSH…) take a process about ten
// milliseconds to map and relocate, which --version, and an MCP server that
// has not reached the service yet, would pay for nothing. These definitions
// are the libcurl functions the agent calls: the first call opens the library
// and each one goes through to the library's own. A libcurl function new to
// the code needs its entry here; the link fails until it has one.
//
// Without the library (not installed, not loadable) every call fails as
// libcurl itself does when it cannot allocate: no handle, no list, no URL,
// CURLE_FAILED_INIT. Callers already treat those as "no answer".

// The definitions below would otherwise read as uses of its checking macros.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>

namespace {

// The name of libcurl's binary interface, unchanged since 2006.
constexpr const char* kLibrary = "libcurl.so.4";

struct Entries {
    decltype(&curl_global_init) globalInit;
    decltype(&curl_easy_init) easyInit;
    decltype(&curl_easy_cleanup) easyCleanup;
    decltype(&curl_easy_reset) easyReset;
    decltype(&curl_easy_perform) easyPerform;
    decltype(&curl_easy_setopt) easySetopt;
    decltype(&curl_easy_getinfo) easyGetinfo;
    decltype(&curl_slist_append) slistAppend;
    decltype(&curl_slist_free_all) slistFreeAll;
    decltype(&curl_free) free;
    decltype(&curl_url) url;
    decltype(&curl_url_cleanup) urlCleanup;
    decltype(&curl_url_set) urlSet;
    decltype(&curl_url_get) urlGet;
};

template <typename Function>
bool resolve(void* library, const char* name, Function& entry) {
    void* symbol = ::dlsym(library, name);
    entry = reinterpret_cast<Function>(symbol);
    return symbol != nullptr;
}

const Entries* open() {
    void* library = ::dlopen(kLibrary, RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "[kestro-agent] libcurl indisponible : %s\n", ::dlerror());
        return nullptr;
    }
    static Entries entries;
    bool all = resolve(library, "curl_global_init", entries.globalInit) &
               resolve(library, "curl_easy_init", entries.easyInit) &
               resolve(library, "curl_easy_cleanup", entries.easyCleanup) &
               resolve(library, "curl_easy_reset", entries.easyReset) &
               resolve(library, "curl_easy_perform", entries.easyPerform) &
               resolve(library, "curl_easy_setopt", entries.easySetopt) &
               resolve(library, "curl_easy_getinfo", entries.easyGetinfo) &
               resolve(library, "curl_slist_append", entries.slistAppend) &
               resolve(library, "curl_slist_free_all", entries.slistFreeAll) &
               resolve(library, "curl_free", entries.free) & resolve(library, "curl_url", entries.url) &
               resolve(library, "curl_url_cleanup", entries.urlCleanup) &
               resolve(library, "curl_url_set", entries.urlSet) & resolve(library, "curl_url_get", entries.urlGet);
    if (!all) {
        std::fprintf(stderr, "[kestro-agent] libcurl indisponible : %s trop ancien\n", kLibrary);
        return nullptr;
    }
    return &entries;
}

// Opened once, whichever thread calls first.
const Entries* curl() {
    static const Entries* entries = open();
    return entries;
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
    const Entries* e = curl();
    return e ? e->globalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() {
    const Entries* e = curl();
    return e ? e->easyInit() : nullptr;
}

// Releasing nothing must not open the library: a header list or a handle
// that never held anything is freed this way.
void curl_easy_cleanup(CURL* handle) {
    if (handle) curl()->easyCleanup(handle);
}

void curl_easy_reset(CURL* handle) {
    if (handle) curl()->easyReset(handle);
}

CURLcode curl_easy_perform(CURL* handle) {
    const Entries* e = handle ? curl() : nullptr;
    return e ? e->easyPerform(handle) : CURLE_FAILED_INIT;
}

// Every option takes exactly one argument, whose type the option's number
// tells: a long, a curl_off_t, or a pointer (to data, a function or a blob).
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
    const Entries* e = handle ? curl() : nullptr;
    if (!e) return CURLE_FAILED_INIT;
    va_list arguments;
    va_start(arguments, option);
    CURLcode code;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        code = e->easySetopt(handle, option, va_arg(arguments, long));
    else if (option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB)
        code = e->easySetopt(handle, option, va_arg(arguments, curl_off_t));
    else
        code = e->easySetopt(handle, option, va_arg(arguments, void*));
    va_end(arguments);
    return code;
}

// Every piece of information is written through one pointer.
CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
    const Entries* e = handle ? curl() : nullptr;
    if (!e) return CURLE_FAILED_INIT;
    va_list arguments;
    va_start(arguments, info);
    CURLcode code = e->easyGetinfo(handle, info, va_arg(arguments, void*));
    va_end(arguments);
    return code;
}

curl_slist* curl_slist_append(curl_slist* list, const char* text) {
    const Entries* e = curl();
    return e ? e->slistAppend(list, text) : nullptr;
}

void curl_slist_free_all(curl_slist* list) {
    if (list) curl()->slistFreeAll(list);
}

void curl_free(void* pointer) {
    if (pointer) curl()->free(pointer);
}

CURLU* curl_url() {
    const Entries* e = curl();
    return e ? e->url() : nullptr;
}

void curl_url_cleanup(CURLU* url) {
    if (url) curl()->urlCleanup(url);
}

CURLUcode curl_url_set(CURLU* url, CURLUPart part, const char* content, unsigned int flags) {
    const Entries* e = url ? curl() : nullptr;
    return e ? e->urlSet(url, part, content, flags) : CURLUE_BAD_HANDLE;
}

CURLUcode curl_url_get(CURLU* url, CURLUPart part, char** content, unsigned int flags) {
    const Entries* e = url ? curl() : nullptr;
    return e ? e->urlGet(url, part, content, flags) : CURLUE_BAD_HANDLE;
}

}  // extern "C"
