// Sets or unsets an environment variable for a scope, restoring it after.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

struct scoped_env {
    std::string name;
    std::optional<std::string> saved;
    scoped_env(const char *n, const char *value) : name(n)
    {
        if (const char *v = std::getenv(n))
            saved = v;
        if (value)
            setenv(n, value, 1);
        else
            unsetenv(n);
    }
    ~scoped_env()
    {
        if (saved)
            setenv(name.c_str(), saved->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};
