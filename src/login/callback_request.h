#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// What the loopback listener makes of the first bytes a connection sends, and
// the answer it gives. Pure: no socket, no flow, so the parsing can be tested
// as a table and reached by a fuzz target.
//
//   bytes ─ UTF-8? ─no─▶ Ignore (close, no answer)
//     └ request line ─ target ─ "/callback…"? ─no─▶ Unexpected page
//         └ query ─ state matches? ─no─▶ Refused "state inattendu"
//             └ code? ─yes─▶ Code (connected page)   └no─▶ Refused (service's reason)
class CallbackRequest {
public:
    enum class Kind {
        Ignore,      // empty or not UTF-8: the connection is closed without an answer
        Unexpected,  // any other request: answered, the login keeps waiting
        Code,        // the browser came back with an authorization code
        Refused,     // the service (or a forged request) refused: the login ends
    };

    // Judges `bytes` against the `state` the flow sent out. An empty
    // `expectedState` matches nothing, so a callback arriving before the state
    // was made cannot pass with an empty one.
    static CallbackRequest parse(std::string_view bytes, std::string_view expectedState);

    Kind kind() const { return m_kind; }
    const std::string& code() const { return m_code; }
    const std::string& reason() const { return m_reason; }

    // The HTML page and the complete HTTP/1.1 answer for this request (empty
    // for Ignore).
    std::string page() const;
    std::string response() const;

    // The pieces, exposed for tests.
    // Up to the first "\r\n", all of it when there is none.
    static std::string_view requestLine(std::string_view text);
    // The second field of the request line split at single spaces; "/" when
    // there are fewer than two fields.
    static std::string_view target(std::string_view requestLine);
    // The query items of `target` (percent-escapes decoded, "+" as a space),
    // each name with every value it was given in order; nothing when the
    // target is not a valid URL path and query.
    static std::optional<std::multimap<std::string, std::string>> queryItems(std::string_view target);
    // `& < > " '` replaced by their character references.
    static std::string escapeHtml(std::string_view text);

private:
    Kind m_kind = Kind::Ignore;
    std::string m_code;
    std::string m_reason;
};
