// The configuration file's decoding on arbitrary bytes, and its encoding of
// arbitrary records: a record read from a file is written back to a text that
// reads as the same record, and a record made of UTF-8 texts survives a write
// and a read unchanged. A record that cannot be written gives no text at all,
// so the store keeps the old file.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "config/config_store.h"
#include "core/unicode_text.h"
#include "finding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    AgentConfig read = ConfigStore::decode(text);
    std::string written = ConfigStore::encode(read);
    FUZZ_CHECK(!written.empty(), "a record read from a file cannot be written");
    FUZZ_CHECK(ConfigStore::decode(written) == read, "a record read back differs from the one written");

    FuzzedDataProvider fdp(data, size);
    AgentConfig made{.baseUrl = fdp.ConsumeRandomLengthString(80),
                     .token = fdp.ConsumeRandomLengthString(80),
                     .userName = fdp.ConsumeRandomLengthString(40),
                     .userEmail = fdp.ConsumeRandomLengthString(40),
                     .clientId = fdp.ConsumeRandomLengthString(40),
                     .configuredPath = fdp.ConsumeRemainingBytesAsString()};
    bool allText = true;
    for (const std::string* field : {&made.baseUrl, &made.token, &made.userName, &made.userEmail, &made.clientId,
                                     &made.configuredPath})
        allText = allText && UnicodeText::isUtf8(*field);
    std::string encoded = ConfigStore::encode(made);
    if (!allText) {
        FUZZ_CHECK(encoded.empty(), "a record holding bytes that are not UTF-8 was written");
        return 0;
    }
    FUZZ_CHECK(!encoded.empty(), "a record of UTF-8 texts cannot be written");
    for (size_t i = encoded.find('/'); i != std::string::npos; i = encoded.find('/', i + 1))
        FUZZ_CHECK(i > 0 && encoded[i - 1] == '\\', "a slash left unescaped");
    FUZZ_CHECK(ConfigStore::decode(encoded) == made, "a record read back differs from the one written");
    return 0;
}
