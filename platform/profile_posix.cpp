// The portable profile-file twin: the file is read whole for every call and,
// when a key is written, written back whole with that one line changed.
#include "platform/profile.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

namespace {

std::mutex profileLock;  // one reader or writer of any profile file at a time

bool ReadLines(const char* fileName, std::vector<std::string>* lines) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) return false;
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    std::fclose(file);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(line);
        start = end + 1;
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool SameName(const std::string& a, const char* b) {
    size_t length = std::strlen(b);
    if (a.size() != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// The section a "[name]" line opens, or false when the line opens none.
bool SectionName(const std::string& line, std::string* name) {
    std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed[0] != '[') return false;
    size_t close = trimmed.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// The key and value of a "key=value" line, or false for any other line.
bool KeyValue(const std::string& line, std::string* key, std::string* value) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    *key = Trim(line.substr(0, equals));
    *value = Trim(line.substr(equals + 1));
    if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') &&
        value->back() == value->front()) {
        *value = value->substr(1, value->size() - 2);
    }
    return true;
}

uint32_t CopyCut(const char* text, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    size_t length = std::strlen(text);
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                  char* buffer, uint32_t size, const char* fileName) {
    std::lock_guard<std::mutex> hold(profileLock);
    std::vector<std::string> lines;
    if (section != nullptr && key != nullptr && fileName != nullptr &&
        ReadLines(fileName, &lines)) {
        bool inSection = false;
        std::string name, value;
        for (const std::string& line : lines) {
            if (SectionName(line, &name)) {
                inSection = SameName(name, section);
            } else if (inSection && KeyValue(line, &name, &value) && SameName(name, key)) {
                return CopyCut(value.c_str(), buffer, size);
            }
        }
    }
    return CopyCut(defaultText != nullptr ? defaultText : "", buffer, size);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (section == nullptr || key == nullptr || value == nullptr || fileName == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> hold(profileLock);
    std::vector<std::string> lines;
    ReadLines(fileName, &lines);
    const std::string entry = std::string(key) + "=" + value;

    bool inSection = false, done = false;
    size_t sectionEnd = lines.size();  // after the section's last non-blank line
    bool sectionFound = false;
    std::string name, oldValue;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (SectionName(lines[i], &name)) {
            if (inSection) break;
            inSection = SameName(name, section);
            if (inSection) {
                sectionFound = true;
                sectionEnd = i + 1;
            }
        } else if (inSection) {
            if (KeyValue(lines[i], &name, &oldValue) && SameName(name, key)) {
                lines[i] = entry;
                done = true;
            } else if (!Trim(lines[i]).empty()) {
                sectionEnd = i + 1;
            }
        }
    }
    if (!done) {
        if (sectionFound) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
        } else {
            lines.push_back(std::string("[") + section + "]");
            lines.push_back(entry);
        }
    }

    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) return false;
    bool ok = true;
    for (const std::string& line : lines) {
        ok = std::fwrite(line.data(), 1, line.size(), file) == line.size() && ok;
        ok = std::fputs("\r\n", file) >= 0 && ok;
    }
    return std::fclose(file) == 0 && ok;
}

}  // namespace platform
