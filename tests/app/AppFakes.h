// Stand-ins for the two ports: a platform over an in-memory folder tree, and a scripted user interface
// that records which dialogs appear. Also a catalog file writer for the tests that load one.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/Ports.h"
#include "platform/Text.h"
#include "support/SfntBuilder.h"
#include "tools/catalog/CatalogWriter.h"

// ---------------------------------------------------------------------------------------------------------
// A folder tree in memory. Paths are absolute, '/'-separated. A directory lists its children in the order
// they were added (the walk must keep that order), after "." and ".." as Windows lists them.
class FakePlatform final : public PlatformPort {
public:
    struct Node {
        bool isDirectory = true;
        std::vector<std::pair<std::u16string, bool>> children;  // name, isDirectory
        int64_t generatedFiles = 0;  // files "g0", "g1" ... listed after the children
        bool listingFails = false;
        bool enterFails = false;
    };

    FakePlatform() { m_nodes[u"/"] = Node(); }

    // Adds a directory (and its parents) or a file (and its parent directories).
    void addDirectory(const std::u16string& path) {
        if (m_nodes.count(path)) return;
        const auto [parent, name] = split(path);
        addDirectory(parent);
        m_nodes[path] = Node();
        m_nodes[parent].children.emplace_back(name, true);
    }
    void addFile(const std::u16string& path) {
        const auto [parent, name] = split(path);
        addDirectory(parent);
        m_nodes[parent].children.emplace_back(name, false);
    }
    Node& node(const std::u16string& path) { return m_nodes.at(path); }

    // Known folders; a missing one fails with `folderError`.
    std::map<KnownFolder, std::u16string> folders;
    uint32_t folderError = 0;
    // Environment for %NAME% expansion.
    std::map<std::u16string, std::u16string> environment;
    uint32_t lcid = 1041;
    enum class Threads { Inline, Real, Fail } threads = Threads::Inline;
    bool replaceFails = false;
    std::function<void()> onList;  // runs at each listing, on the walking thread

    // What was done.
    std::vector<std::u16string> replacedPaths;
    std::string replacedBytes;
    int listings = 0;
    int directoryChanges = 0;

    bool getFolderPath(KnownFolder folder, char16_t out[kMaxPathUnits]) override {
        out[0] = u'\0';
        const auto it = folders.find(folder);
        if (it == folders.end()) {
            m_lastError = folderError;
            return false;
        }
        copy(it->second, out);
        return true;
    }
    uint32_t getLastError() override { return m_lastError; }

    bool setCurrentDirectory(const char16_t* path) override {
        ++directoryChanges;
        const std::u16string given(path);
        std::u16string target;
        if (given == u"..") {
            target = split(m_cwd).first;
        } else if (!given.empty() && given[0] == u'/') {
            target = given;
        } else {
            target = (m_cwd == u"/" ? std::u16string() : m_cwd) + u"/" + given;
        }
        const auto it = m_nodes.find(target);
        // Windows keeps at most 258 units of current directory (MAX_PATH less terminator and separator).
        if (it == m_nodes.end() || it->second.enterFails || target.size() > kMaxPathUnits - 2) {
            m_lastError = 3;
            return false;
        }
        m_cwd = target;
        return true;
    }

    uint32_t getCurrentDirectory(uint32_t capacity, char16_t* buffer) override {
        if (m_cwd.size() + 1 > capacity) return uint32_t(m_cwd.size() + 1);
        copy(m_cwd, buffer);
        return uint32_t(m_cwd.size());
    }

    std::unique_ptr<DirectoryListing> listCurrentDirectory() override {
        ++listings;
        if (onList) onList();
        const Node& n = m_nodes.at(m_cwd);
        if (n.listingFails) return nullptr;
        return std::make_unique<Listing>(n, m_cwd != u"/");
    }

    uint32_t expandEnvironmentStrings(const char16_t* source, char16_t* destination,
                                      uint32_t capacity) override {
        std::u16string text(source), out;
        size_t i = 0;
        while (i < text.size()) {
            const size_t open = text.find(u'%', i);
            const size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
            if (close == std::u16string::npos) {
                out += text.substr(i);
                break;
            }
            out += text.substr(i, open - i);
            const auto it = environment.find(text.substr(open + 1, close - open - 1));
            out += it != environment.end() ? it->second : text.substr(open, close - open + 1);
            i = close + 1;
        }
        if (out.size() + 1 <= capacity) copy(out, destination);
        return uint32_t(out.size() + 1);
    }

    bool replaceFile(const char16_t* path, const char* bytes, size_t length) override {
        if (replaceFails) return false;
        replacedPaths.emplace_back(path);
        replacedBytes.assign(bytes, length);
        return true;
    }
    uint32_t getUserDefaultLcid() override { return lcid; }

    bool startThread(ThreadProc proc, void* parameter) override {
        switch (threads) {
            case Threads::Inline:
                proc(parameter);
                return true;
            case Threads::Real:
                std::thread(proc, parameter).detach();
                return true;
            case Threads::Fail:
                return false;
        }
        return false;
    }

    const std::u16string& cwd() const { return m_cwd; }

private:
    class Listing final : public DirectoryListing {
    public:
        Listing(const Node& node, bool dots) : m_node(node), m_index(dots ? -2 : 0) {}
        bool next(DirectoryEntry& entry) override {
            const int64_t i = m_index++;
            if (i < 0) {
                entry.isDirectory = true;
                copy(i == -2 ? u"." : u"..", entry.name);
                return true;
            }
            if (size_t(i) < m_node.children.size()) {
                entry.isDirectory = m_node.children[size_t(i)].second;
                copy(m_node.children[size_t(i)].first, entry.name);
                return true;
            }
            const int64_t g = i - int64_t(m_node.children.size());
            if (g >= m_node.generatedFiles) return false;
            entry.isDirectory = false;
            entry.name[0] = u'g';  // cheap: millions of these are listed
            entry.name[1] = u'\0';
            return true;
        }

    private:
        const Node& m_node;
        int64_t m_index;
    };

    static std::pair<std::u16string, std::u16string> split(const std::u16string& path) {
        const size_t slash = path.rfind(u'/');
        return {slash == 0 ? u"/" : path.substr(0, slash), path.substr(slash + 1)};
    }
    static void copy(const std::u16string& s, char16_t* out) {
        std::copy(s.begin(), s.end(), out);
        out[s.size()] = u'\0';
    }

    std::map<std::u16string, Node> m_nodes;
    std::u16string m_cwd = u"/";
    uint32_t m_lastError = 0;
};

// ---------------------------------------------------------------------------------------------------------
// A user interface that answers from a script and records what appeared.
class ScriptedUi final : public UserInterfacePort {
public:
    class Progress final : public ProgressWindow {
    public:
        void setPosition(int32_t percent) override { positions.push_back(percent); }
        bool isVisible() override { return visible && !closed; }
        void refresh() override { ++refreshes; }
        void close() override { closed = true; }
        std::vector<int32_t> positions;
        bool visible = true;
        bool closed = false;
        int refreshes = 0;
    };

    // Script.
    bool classUsable = true;
    bool progressCreated = true;
    SaveDialogResult saveResult = SaveDialogResult::Ok;
    std::u16string saveChoice = u"/out/FontsList.json";
    std::string throwIn;  // name of the method that throws: "showProgress", "pump", "save"
    std::function<void()> onPump;
    std::function<void()> onWait;

    // Record.
    std::vector<std::string> events;
    std::u16string saveTitle, saveFolder, saveProposed;
    bool saveFolderGiven = false;
    std::vector<uint32_t> messages;
    int pumps = 0;
    std::string polls;                // 'p' for each pump, 'w' for each wait, in order
    std::vector<uint32_t> waitTimes;  // the time-out of each wait
    Progress progress;

    void initFramework() override { events.push_back("init"); }
    bool registerTransparentImageClass() override {
        events.push_back("register");
        return classUsable;
    }
    ProgressWindow* showProgress() override {
        events.push_back("progress");
        if (throwIn == "showProgress") throw std::runtime_error("showProgress");
        return progressCreated ? &progress : nullptr;
    }
    void pumpMessage() override {
        ++pumps;
        polls += 'p';
        if (onPump) onPump();
        if (throwIn == "pump") throw std::runtime_error("pump");
        std::this_thread::yield();
    }
    void waitForMessage(uint32_t timeoutMs) override {
        polls += 'w';
        waitTimes.push_back(timeoutMs);
        if (onWait) onWait();
        std::this_thread::yield();
    }
    SaveDialogResult runSaveDialog(const char16_t* title, const char16_t* initialFolder,
                                   const char16_t* proposedPath, std::u16string& chosen) override {
        events.push_back("save");
        if (throwIn == "save") throw std::runtime_error("save");
        saveTitle = title;
        saveFolderGiven = initialFolder != nullptr;
        saveFolder = initialFolder ? initialFolder : u"";
        saveProposed = proposedPath;
        if (saveResult == SaveDialogResult::Ok) chosen = saveChoice;
        return saveResult;
    }
    void showMessage(uint32_t stringId) override {
        events.push_back("message " + std::to_string(stringId));
        messages.push_back(stringId);
    }
    void runInstructionsDialog() override { events.push_back("instructions"); }
    void cleanup() override { events.push_back("cleanup"); }
};

// ---------------------------------------------------------------------------------------------------------
// Catalog files.
inline awfc::Record catalogEntry(const std::string& postScriptName, std::vector<std::string> fullNames) {
    awfc::Record r;
    r.displayName = "Display " + postScriptName;
    r.postScriptName = postScriptName;
    for (auto& n : fullNames) r.fullNames.emplace_back(n);
    return r;
}

inline awfc::Table catalogTable(uint32_t group, std::string_view tag, std::vector<awfc::Record> records) {
    awfc::Table t;
    t.group = group;
    t.tag = tagValue(tag);
    t.records = std::move(records);
    return t;
}

inline Bytes catalogImage(std::vector<awfc::Table> tables, uint32_t version = 0x00040000) {
    awfc::Catalog description;
    description.version = version;
    description.tables = std::move(tables);
    Bytes image;
    std::string error;
    if (!awfc::writeCatalog(description, image, error)) ADD_FAILURE() << error;
    return image;
}

// A catalog with one TrueType entry "Test Font" in group 1 and one in group 7.
inline Bytes simpleCatalog() {
    return catalogImage({catalogTable(1, "true", {catalogEntry("TestFont", {"Test Font"})}),
                         catalogTable(7, "true", {catalogEntry("Hidden", {"Hidden Font"})})});
}

// A crafted TrueType font whose full name is `fullName`.
inline Bytes trueTypeFont(std::u16string_view fullName) {
    return SfntBuilder::trueType(nameTable({windowsName(fullName)})).build();
}
