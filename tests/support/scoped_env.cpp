#include "scoped_env.h"

#include <stdlib.h>

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
    if (const char* old = ::getenv(m_name.c_str())) m_saved = old;
    if (value)
        ::setenv(m_name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (m_saved)
        ::setenv(m_name.c_str(), m_saved->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}
