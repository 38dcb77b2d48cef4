#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Splits a TOML text into its lines and says what each line is, without
// building any value: enough to find, keep or drop whole tables and key/value
// statements while every other byte of the file stays as it was.
//
//   header        a line that begins with "[" where a statement could begin
//   statement     the first line of a key/value statement ("key = value")
//   continuation  a line inside a value that spans lines (a multi-line string
//                 or array); never a header, even when it begins with "["
//   other         a blank line or a comment
//
// Lines are the text split at line feeds; a carriage return stays part of its
// line. Key paths are the dotted keys unquoted ("a"."b c".d → a, b c, d).
class TomlLineScanner {
  public:
    enum class Kind { header, statement, continuation, other };

    struct Line {
        std::string_view text;     // without its line feed
        std::string_view trimmed;  // without spaces and tabs at both ends (a final "\r" kept)
        Kind kind = Kind::other;
        // header: the table's key path; statement: the dotted key before "=".
        // Nothing when the key cannot be read.
        std::optional<std::vector<std::string>> path;
    };

    explicit TomlLineScanner(std::string_view text);

    const std::vector<Line>& lines() const { return m_lines; }

    // True when the text ends inside a multi-line string or an open array or
    // inline table: whatever is appended to it would become part of that value.
    bool endsOpen() const { return m_endsOpen; }

    // `trimmed` is exactly "[" + dotted + "]", or the header's key path is `path`.
    static bool isHeaderOf(const Line& line, const std::string& dotted, const std::vector<std::string>& path);

  private:
    std::vector<Line> m_lines;
    bool m_endsOpen = false;
};
