// One hive file in Wine's registry text format, held as a key tree. Sections that no edit
// touched keep their exact text, so a file is written back byte for byte except where it changed;
// touched sections are written as Wine writes them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quorvane::platform::hive {

// The first line is not Wine's header: Wine would ignore the whole file and never save it.
class HeaderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file ends inside a line, or on a line that says another follows: it was cut short (a full
// disk, a copy broken off), and whatever came after is lost. Wine writes every line whole.
class TruncatedError : public HeaderError {
public:
    using HeaderError::HeaderError;
};

// 100 ns ticks since 1601-01-01 UTC, as in the files' #time lines.
using FileTime = std::uint64_t;
FileTime currentFileTime();

struct ValueData {
    std::uint32_t type = 0;
    std::string bytes;
};

// A line of a section after its [path] line. A value's line may run on over continuation lines.
struct Entry {
    enum class Kind { Time, Link, Class, Value, Other };
    Kind kind = Kind::Other;
    std::string text;            // exact text, line ends included
    std::u16string name;         // Value: its name as first spelled
    std::u16string folded;       // Value: folded name, for look-up
    std::size_t dataOffset = 0;  // Value: where the data starts in `text`
    bool afterBadKey = false;    // follows a key line Wine could not read: never a value of ours
};

// What loading a file keeps to find a key's children while they come out of order.
struct LoadingIndex;

// The untouched text of a key's sections, into the document's buffer. Nearly every key has one
// section, held without an allocation of its own; a key listed again has more.
class RawSections {
public:
    void push_back(std::string_view text) {
        if (first_.empty()) {
            first_ = text;
        } else {
            more_.push_back(text);
        }
    }
    std::size_t size() const { return first_.empty() ? 0 : 1 + more_.size(); }
    std::string_view operator[](std::size_t i) const { return i == 0 ? first_ : more_[i - 1]; }

private:
    std::string_view first_;  // a section is never empty: it begins with its [path] line
    std::vector<std::string_view> more_;
};

class Key {
public:
    Key(std::u16string name, Key* parent);
    // Without recursion: a file decides how deep the tree is.
    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::u16string& name() const { return name_; }
    const std::u16string& folded() const { return folded_; }
    Key* parent() const { return parent_; }
    const std::vector<std::unique_ptr<Key>>& children() const { return children_; }
    FileTime modified() const { return modified_; }

    Key* child(std::u16string_view folded) const;
    // Creates the child unless a child of that name exists; either way returns it.
    Key& addChild(std::u16string name, FileTime now);
    void removeChild(const Key& child);

    std::optional<ValueData> value(std::u16string_view folded);
    // Both report whether anything changed; an identical value changes nothing.
    bool setValue(std::u16string_view name, const ValueData& data, FileTime now);
    bool deleteValue(std::u16string_view folded, FileTime now);
    void touch(FileTime now);
    // The names of the key's values, as first spelled, in the file's order.
    std::vector<std::u16string> valueNames();
    // The values with their names as first spelled, in the file's order: one pass for all.
    std::vector<std::pair<std::u16string, ValueData>> values();

    bool isLink();
    // The target path of a link key, as stored (e.g. "\Registry\Machine\System\ControlSet001").
    std::optional<std::u16string> linkTarget();

    // Renders every section anew, as though each had been edited (without changing its time).
    void markAllTouched();
    // This key's sections and all below it, in Wine's order.
    void serialize(std::string& out, std::string_view lineEnd) const;

private:
    friend class Document;
    friend struct LoadingIndex;
    Key(std::u16string name, std::u16string folded, Key* parent);
    // While a file loads, children go last as listed; a key whose children came out of Wine's
    // order is found through `index` from then on, and put in order once loading ends
    // (sortLoaded).
    Key& childForLoading(std::u16string_view name, LoadingIndex& index);
    static void sortLoaded(LoadingIndex& index);
    static void sortByName(std::vector<std::unique_ptr<Key>>& keys);
    void serializeOwn(std::string& out, std::string_view lineEnd) const;
    void addRawSection(std::string_view text, FileTime modified);
    void parseSections();
    Entry* findEntry(std::u16string_view folded);
    // Writes a value's line anew, as Wine writes it.
    static void renderEntry(Entry& entry, const ValueData& data);
    bool needsSection() const;
    void render(std::string& out, std::string_view lineEnd) const;
    std::string pathText() const;

    std::u16string name_;
    std::u16string folded_;
    Key* parent_;
    std::vector<std::unique_ptr<Key>> children_;  // in Wine's order
    FileTime modified_ = 0;
    RawSections rawSections_;
    std::vector<Entry> entries_;  // valid once parsed_
    // Where each value's entry is, by folded name, so that a look-up costs no scan: built on
    // the first look-up, kept while values are changed in place or added last.
    std::unordered_map<std::u16string, std::size_t> index_;
    bool indexed_ = false;
    bool foreignLines_ = false;  // an entry follows a key line Wine could not read
    std::u16string greatest_;    // no value's folded name sorts after it
    bool parsed_ = false;
    bool touched_ = false;
    bool shuffled_ = false;
    std::optional<bool> link_;
};

// A hive file with its [path] lines found: scanned once, it serves every Document loaded from
// it. Throws HeaderError when the first line is not Wine's header, TruncatedError when the file
// was cut short.
class ScannedHive {
public:
    // Fills `out` with `length` bytes of the file from `offset` on, or throws.
    using Reader = std::function<void(std::size_t offset, char* out, std::size_t length)>;

    // The whole text at hand.
    explicit ScannedHive(std::string text);
    // How much of a file the search for [path] lines reads at a time: what the processor's first
    // caches hold. A longer line makes the buffer grow.
    static constexpr std::size_t kPieceSize = std::size_t{64} << 10;
    // A file of `size` bytes read through `read`: the [path] lines are found in one pass over
    // it, a piece at a time, and none of its text is kept. The sections a document loads later
    // are read again through `read`, a run of neighbouring sections at a time, so that a read of
    // a few keys costs the search for the [path] lines and the reading of their runs only. An
    // exception of `read` leaves the document that asked unchanged.
    ScannedHive(std::size_t size, Reader read);
    ~ScannedHive();
    ScannedHive(const ScannedHive&) = delete;
    ScannedHive& operator=(const ScannedHive&) = delete;

private:
    friend class Document;
    struct Section;
    // Bytes of the file from `begin` on: the text given whole, or a range read later.
    struct Piece {
        std::size_t begin;
        std::string given;
        std::unique_ptr<char[]> read;  // not zero-filled first: the read fills every byte
        std::string_view text;
    };
    void scan(std::string_view piece, std::size_t base);
    // Whether the line whose '[' is at `bracket` of `piece`, at the very start of the line, is a
    // key line whose first kRunDepth names are those of the run scanned last: most are, and this
    // shows it without splitting them. Where the search for the next [path] line goes on (after
    // the line's ']') when it is; 0 when it is not or cannot tell (the whole judgement decides).
    std::size_t continuingRun(std::string_view piece, std::size_t bracket) const;
    // The file's bytes from `begin` to `end`, read unless a piece read before holds them; valid
    // while this object lives (untouched sections point into them).
    std::string_view text(std::size_t begin, std::size_t end) const;

    std::size_t size_ = 0;
    Reader read_;
    mutable std::deque<Piece> pieces_;  // a deque never moves what it holds
    std::string lineEnd_ = "\n";
    std::vector<Section> sections_;
    // Where each run of neighbouring sections that share their first kRunDepth components (as
    // written) starts, and the [path] line of its first section, so that a selection passes
    // over the runs that lead elsewhere at once, without reading them.
    static constexpr std::size_t kRunDepth = 3;
    std::vector<std::size_t> runs_;
    std::vector<std::size_t> runLines_;  // where each run's line starts in runLineText_
    std::string runLineText_;  // the lines one after another: one allocation, not one each
    std::string runLeading_;   // while scanning: the leading components of the last run
};

class Document {
public:
    // Windows' deepest key: a section deeper than this is kept as a line Wine could not read.
    static constexpr std::size_t kMaxDepth = 512;

    // Throws HeaderError when the first line is not Wine's header.
    static Document parse(std::string text);
    // From `scanned`, only the sections of the keys on the way to each of `wanted` (folded names
    // joined by single backslashes, from the root; empty for the root) and of every key below them:
    // such a key reads as in the whole file, with its values and sub-keys, while the rest of the
    // file costs only the search for its [path] lines. For reading only: serialize() refuses it, as
    // the sections left out would be lost. Throws HeaderError as parse.
    static Document parseSelected(std::shared_ptr<const ScannedHive> scanned,
                                  std::span<const std::u16string> wanted);
    // A file with nothing but the header, for the given branch ("REGISTRY\\Machine").
    static Document empty(std::string_view branch);
    static std::string headerFor(std::string_view branch);

    // A document loaded in part: adds the keys on the way to `wanted` and below it, as
    // parseSelected would. The keys loaded before stay where they are.
    void select(std::u16string_view wanted);

    Key& root() { return *root_; }
    std::string serialize() const;

private:
    Document();
    // Loads the sections related to `wanted` not loaded yet, or all of them for null.
    void load(const std::u16string_view* wanted);

    // The file's text, which untouched sections point into.
    std::shared_ptr<const ScannedHive> buffer_;
    bool selected_ = false;
    std::vector<bool> loaded_;  // which sections a selected document holds
    std::string_view header_;
    std::string_view trailer_;
    std::string lineEnd_ = "\n";
    std::unique_ptr<Key> root_;
};

// Parses the data part of a value line ("dword:00000001", "hex(b):...", "\"text\"", ...).
// Data Wine cannot read loads as REG_NONE without bytes, as in Wine.
ValueData decodeValueData(std::string_view text);
// The value line for `name` and `data`, as Wine writes it, without its line end.
std::string renderValueLine(std::u16string_view name, const ValueData& data,
                            std::string_view lineEnd);

}  // namespace quorvane::platform::hive
