// SPDX-License-Identifier: GPL-3.0-or-later
#include "path_helpers.h"

#include <climits>
#include <unistd.h>
#include <vector>

namespace {

constexpr char separator = '/';

std::string currentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    if (!::getcwd(buffer.data(), buffer.size()))
        return {};
    return buffer.data();
}

} // namespace

bool AbsolutePath(const std::string& path, std::string& absolute)
{
    // A zero byte would cut the name short and name another folder.
    if (path.find('\0') != std::string::npos)
        return false;

    std::string base;
    if (path.empty() || path.front() != separator) {
        base = currentDirectory();
        if (base.empty())
            return false;
    }

    // Components are resolved by name only: "link/.." is the folder holding
    // the link, not the parent of the link's target.
    std::vector<std::string> parts;
    auto take = [&parts](const std::string& text) {
        std::string::size_type begin = 0;
        while (begin <= text.size()) {
            std::string::size_type end = text.find(separator, begin);
            if (end == std::string::npos)
                end = text.size();
            const std::string part = text.substr(begin, end - begin);
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            begin = end + 1;
        }
    };
    take(base);
    take(path);

    std::string result;
    for (const std::string& part : parts)
        result += separator + part;
    if (result.empty())
        result = std::string(1, separator);
    if (result.size() + 1 > PATH_MAX)
        return false;
    absolute = result;
    return true;
}

bool NormalizeDir(std::string& dir)
{
    std::string absolute;
    if (!AbsolutePath(dir, absolute))
        return false;
    if (::chdir(absolute.c_str()) != 0)
        return false;
    if (absolute.back() != separator)
        absolute += separator;
    dir = absolute;
    return true;
}

bool EnterDir(const std::string& dir)
{
    if (dir.find('\0') != std::string::npos)
        return false;
    return ::chdir(dir.c_str()) == 0;
}
