// The site loader: JSON text (a string or a file read in pieces) to a Site, refusing the whole
// text on the first fault with one line that names the source, the JSON path and what was
// expected.
#include "site_loader.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

namespace standin::detail {
namespace site_loading {

// The first `n` bytes of `text`, or fewer so as not to split a UTF-8 sequence.
size_t head_bytes(std::string_view text, size_t n) {
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return n;
}

// Where the last `n` bytes of `text` begin, moved on so as not to split a UTF-8 sequence.
size_t tail_start(std::string_view text, size_t n) {
    size_t at = text.size() - n;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
        ++at;
    }
    return at;
}

// `text` cut to its two ends when it is long; *cut tells how many bytes were left out.
std::string cut_text(std::string_view text, size_t* cut) {
    *cut = 0;
    if (text.size() <= 2 * kEchoEnd + 32) {
        return std::string(text);
    }
    const size_t head = head_bytes(text, kEchoEnd);
    const size_t tail = tail_start(text, kEchoEnd);
    *cut = tail - head;
    return std::string(text.substr(0, head)) + "..." + std::string(text.substr(tail));
}

std::string cut_note(size_t cut) {
    return cut == 0 ? std::string() : " (" + std::to_string(cut) + " bytes cut)";
}

// A text in double quotes with JSON escapes, cut when long.
std::string qtext(std::string_view text) {
    size_t cut = 0;
    const std::string kept = cut_text(text, &cut);
    return ojson(kept).dump(-1, ' ', false, ojson::error_handler_t::replace) + cut_note(cut);
}

// ".key" for plain keys, ["key"] for any other (and a long one, cut).
std::string key_segment(std::string_view key) {
    bool plain = !key.empty() && !(key[0] >= '0' && key[0] <= '9') && key.size() <= 2 * kEchoEnd;
    for (char c : key) {
        plain =
            plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
    }
    return plain ? "." + std::string(key) : "[" + qtext(key) + "]";
}

std::string index_segment(long index) { return "[" + std::to_string(index) + "]"; }

}  // namespace site_loading

namespace {

using site_loading::Loader;
using site_loading::LoadError;
using site_loading::ojson;

// Where the text read so far stands: bytes, line ends and where the last line began.
struct TextPlace {
    size_t offset = 0;
    size_t lines = 0;
    size_t line_start = 0;

    void pass(const char* bytes, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (bytes[i] == '\n') {
                ++lines;
                line_start = offset + i + 1;
            }
        }
        offset += size;
    }
};

// The next `size` bytes of the text, read from `place` on: how many of them the parser may
// have, which is all of them unless they hold a NUL byte (noted in *nul).
size_t bytes_before_nul(const char* bytes, size_t size, TextPlace place, Loader::NulByte* nul) {
    const void* found = size == 0 ? nullptr : std::memchr(bytes, '\0', size);
    if (found == nullptr) {
        return size;
    }
    const auto at = static_cast<size_t>(static_cast<const char*>(found) - bytes);
    place.pass(bytes, at);
    nul->offset = place.offset;
    nul->line = place.lines + 1;
    nul->column = place.offset - place.line_start + 1;
    return at;
}

// Hands a file to the parser in pieces: an input iterator over a buffer refilled as it runs out.
// A NUL byte ends what it hands over (and is noted for the loader).
class FileReader {
public:
    FileReader(std::FILE* file, Loader::NulByte* nul) : file_(file), nul_(nul), buffer_(kPiece) {}
    bool failed() const { return failed_; }

    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = char;
        using difference_type = std::ptrdiff_t;
        using pointer = const char*;
        using reference = const char&;

        explicit Iterator(FileReader* reader) : reader_(reader) {}
        reference operator*() const { return reader_->buffer_[reader_->pos_]; }
        Iterator& operator++() {
            ++reader_->pos_;
            return *this;
        }
        // Only ever compared with the end, which it reaches when the file has no more bytes.
        bool operator!=(const Iterator&) const { return reader_->more(); }
        bool operator==(const Iterator& other) const { return !(*this != other); }

    private:
        FileReader* reader_;
    };
    Iterator begin() { return Iterator(this); }
    Iterator end() { return Iterator(this); }

private:
    static constexpr size_t kPiece = size_t{1} << 16;

    bool more() {
        if (pos_ < size_) {
            return true;
        }
        if (std::feof(file_) != 0 || failed_ || nul_->offset != Loader::kNoNul) {
            return false;
        }
        const size_t read = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        failed_ = std::ferror(file_) != 0;
        size_ = bytes_before_nul(buffer_.data(), read, place_, nul_);
        pos_ = 0;
        if (size_ == read) {
            place_.pass(buffer_.data(), read);  // for the place of a NUL byte in a later piece
        }
        return size_ > 0;
    }

    std::FILE* file_;
    Loader::NulByte* nul_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t size_ = 0;
    TextPlace place_;  // of the pieces before this one
    bool failed_ = false;
};

template <class Load>
std::unique_ptr<Site> load_or_refuse(const std::string& source, std::string* error, Load&& load) {
    try {
        Loader loader(source);
        return load(loader);
    } catch (const LoadError& e) {
        *error = e.what();
    } catch (const std::bad_alloc&) {
        *error = source + ": $: the site does not fit in memory";
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<Site> load_site_text(const std::string& text, const std::string& source, std::string* error) {
    return load_or_refuse(source, error, [&](Loader& loader) {
        const size_t size = bytes_before_nul(text.data(), text.size(), TextPlace{}, &loader.nul);
        return loader.load([&](Loader* handler) {
            ojson::sax_parse(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size), handler);
        });
    });
}

std::unique_ptr<Site> read_site_stream(std::FILE* file, const std::string& source, std::string* error) {
    bool failed = false;
    std::unique_ptr<Site> site = load_or_refuse(source, error, [&](Loader& loader) {
        FileReader reader(file, &loader.nul);
        std::unique_ptr<Site> loaded;
        try {
            loaded = loader.load(
                [&](Loader* handler) { ojson::sax_parse(reader.begin(), reader.end(), handler); });
        } catch (...) {
            failed = reader.failed();
            throw;
        }
        failed = reader.failed();
        return loaded;
    });
    if (failed) {
        *error = source + ": cannot read the file";
        return nullptr;
    }
    return site;
}

std::unique_ptr<Site> read_site_file(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // A folder opens on Unix and then reads nothing; Windows refuses to open it. Both say so alike.
        std::error_code no_kind;
        *error = path + (std::filesystem::is_directory(path, no_kind) ? ": cannot read the file"
                                                                      : ": cannot open the file");
        return nullptr;
    }
    std::unique_ptr<Site> site = read_site_stream(file, path, error);
    std::fclose(file);
    return site;
}

}  // namespace standin::detail