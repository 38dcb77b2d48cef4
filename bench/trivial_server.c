/* The floor the agent's --mcp process is measured against: a line-oriented
 * JSON-RPC server in plain C that answers every line with an empty result for
 * the line's "id", flushed per line like the agent's replies. No JSON parser,
 * no configuration, no libraries but the C library. */
#include <stdio.h>
#include <string.h>

int main(void) {
    char line[1 << 16];
    while (fgets(line, sizeof line, stdin)) {
        const char* id = strstr(line, "\"id\":");
        size_t length = 0;
        if (id) {
            id += 5;
            length = strcspn(id, ",}");
        } else {
            id = "null";
            length = 4;
        }
        fputs("{\"jsonrpc\":\"2.0\",\"id\":", stdout);
        fwrite(id, 1, length, stdout);
        fputs(",\"result\":{}}\n", stdout);
        fflush(stdout);
    }
    return 0;
}
