// The text of an emulated component (see componentfile.h).

#include "platform/emulated/componentfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

namespace winsteps::platform::emulated {

namespace {

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// A ProgID as Windows allows one: 1 to 39 letters, digits and periods, not starting with a digit.
// Nor one of the keys that HKEY_CLASSES_ROOT keeps the classes themselves in: unregistering a
// ProgID removes its key, and "CLSID" would take every class of the machine with it.
bool validProgId(const std::string& id)
{
    static const char* const reserved[] = {"appid", "clsid", "interface", "mime", "record", "typelib", "wow6432node"};
    if (id.empty() || id.size() > 39 || (id[0] >= '0' && id[0] <= '9'))
        return false;
    if (std::find(std::begin(reserved), std::end(reserved), lower(id)) != std::end(reserved))
        return false;
    for (const char c : id) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '.')
            return false;
    }
    return true;
}

// "ok", "missing" or "fails HRESULT" (a failure code).
bool parseEntry(const std::string& value, ComponentEntry* entry)
{
    const std::string word = lower(value.substr(0, value.find_first_of(" \t")));
    const std::string rest = trimmed(value.substr(word.size()));
    if ((word == "ok" || word == "missing") && rest.empty()) {
        *entry = ComponentEntry{word == "ok", S_OK};
        return true;
    }
    if (word != "fails" || rest.empty() || rest[0] == '-' || rest[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long code = std::strtoull(rest.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || code > 0xFFFFFFFFull || !FAILED(static_cast<HRESULT>(std::uint32_t(code))))
        return false;
    *entry = ComponentEntry{true, static_cast<HRESULT>(std::uint32_t(code))};
    return true;
}

} // namespace

bool ComponentFile::parse(const std::string& text, std::string* why)
{
    *this = ComponentFile();
    int number = 0;
    bool signed_ = false;
    const auto fail = [&](const std::string& reason) {
        if (why)
            *why = number ? "line " + std::to_string(number) + ": " + reason : reason;
        *this = ComponentFile();
        return false;
    };
    if (text.size() > maxComponentFileSize)
        return fail("the file is larger than " + std::to_string(maxComponentFileSize) + " bytes");
    if (text.find('\0') != std::string::npos)
        return fail("the file holds a NUL byte");
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (!signed_) {
            if (lower(line) != componentSignature)
                return fail(std::string("the file does not begin with \"") + componentSignature + "\"");
            signed_ = true;
            continue;
        }
        const std::size_t gap = line.find_first_of(" \t");
        const std::string keyword = lower(line.substr(0, gap));
        const std::string value = gap == std::string::npos ? std::string() : trimmed(line.substr(gap));
        if (value.empty())
            return fail("\"" + keyword + "\" needs a value");
        if (keyword == "class") {
            ComponentClass added;
            if (!parseGuidText(value, &added.clsid))
                return fail("\"" + value + "\" is no class id such as {6C5E3A10-0B5D-4D3A-9F1E-2B8C1D7E4F01}");
            classes.push_back(added);
        } else if (keyword == "dllregisterserver" || keyword == "dllunregisterserver") {
            if (!parseEntry(value, keyword == "dllregisterserver" ? &registerServer : &unregisterServer))
                return fail("an entry point is \"ok\", \"missing\" or \"fails\" with a failure code such as 0x80070005");
        } else if (keyword == "name" || keyword == "progid" || keyword == "threadingmodel") {
            if (classes.empty())
                return fail("\"" + keyword + "\" comes before any \"class\"");
            ComponentClass& current = classes.back();
            if (keyword == "name") {
                current.name = value;
            } else if (keyword == "progid") {
                if (!validProgId(value))
                    return fail("\"" + value + "\" is no ProgID (letters, digits and periods, at most 39, not a key such as CLSID)");
                current.progIds.push_back(value);
            } else {
                static const char* const models[] = {"Apartment", "Free", "Both", "Neutral"};
                const auto known = [&](const char* model) { return lower(model) == lower(value); };
                const auto* found = std::find_if(std::begin(models), std::end(models), known);
                if (found == std::end(models))
                    return fail("the threading model is Apartment, Free, Both or Neutral");
                current.threadingModel = *found;
            }
        } else {
            return fail("unknown keyword \"" + keyword + "\"");
        }
    }
    if (!signed_)
        return fail(std::string("the file does not begin with \"") + componentSignature + "\"");
    return true;
}

} // namespace winsteps::platform::emulated
