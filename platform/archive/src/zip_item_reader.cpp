#include "archive/zip_item_reader.h"

#include "archive/archive_errors.h"
#include "base/error.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using base::Error;

namespace archive {

namespace {

constexpr size_t blockSize = 1 << 20;       // raw bytes handed from the reading thread at a time
constexpr size_t blocksInFlight = 4;        // bounds the memory of a pipelined item
constexpr size_t outputSize = 256 * 1024;   // inflated bytes handed to the sink at a time
constexpr uint64_t pipelinedFrom = 4 << 20; // below this the second thread costs more than it gains
constexpr size_t encryptionHeader = 12;

// Errors are worded by the archive layer's table, naming the item being read.
[[noreturn]] void fail(int zipCode, const QString& item, int systemCode = 0) {
    throw Error(zipErrorText(zipCode, systemCode, item).toStdString());
}

[[noreturn]] void fail(zip_error_t* error, const QString& item) {
    const int system = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
    fail(zip_error_code_zip(error), item, system);
}

constexpr std::array<uint32_t, 256> crcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// Traditional PKWARE decryption: three keys updated with every plain byte.
class ZipCrypto {
public:
    explicit ZipCrypto(const QByteArray& password) {
        for (char c : password)
            update(uint8_t(c));
    }

    void decrypt(char* data, size_t size) {
        uint32_t k0 = m_k0, k1 = m_k1, k2 = m_k2;
        auto* p = reinterpret_cast<uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) {
            // In 32 bits: two 16-bit values promoted to int overflow it.
            const uint32_t t = (k2 | 2) & 0xFFFF;
            const uint8_t plain = p[i] ^ uint8_t((t * (t ^ 1)) >> 8);
            p[i] = plain;
            k0 = crcTable[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
            k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
            k2 = crcTable[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
        }
        m_k0 = k0;
        m_k1 = k1;
        m_k2 = k2;
    }

private:
    void update(uint8_t plain) {
        m_k0 = crcTable[(m_k0 ^ plain) & 0xFF] ^ (m_k0 >> 8);
        m_k1 = (m_k1 + (m_k0 & 0xFF)) * 134775813u + 1;
        m_k2 = crcTable[(m_k2 ^ (m_k1 >> 24)) & 0xFF] ^ (m_k2 >> 8);
    }

    uint32_t m_k0 = 0x12345678u;
    uint32_t m_k1 = 0x23456789u;
    uint32_t m_k2 = 0x34567890u;
};

// The high byte of the item's DOS time, which writers that stream (data descriptor) put into the
// last header byte instead of the CRC's; libzip gives the time as local time_t.
int dosTimeCheckByte(const zip_stat_t& st) {
    if (!(st.valid & ZIP_STAT_MTIME))
        return -1;
    std::tm local{};
    const time_t t = st.mtime;
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0)
        return -1;
#else
    if (!localtime_r(&t, &local))
        return -1;
#endif
    const unsigned dosTime = unsigned(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return int(dosTime >> 8);
}

// The item's stored bytes (the encryption header and the compressed data), exactly `size` of them.
class RawItem {
public:
    RawItem(zip* archive, uint64_t index, zip_flags_t flags, uint64_t size, const QString& item)
        : m_left(size)
        , m_item(item) {
        m_file = zip_fopen_index(archive, index, flags);
        if (!m_file)
            fail(zip_get_error(archive), item);
    }
    ~RawItem() { zip_fclose(m_file); }
    RawItem(const RawItem&) = delete;
    RawItem& operator=(const RawItem&) = delete;

    uint64_t left() const { return m_left; }

    // Fills `size` bytes (no more than left()); a shorter item is damaged.
    void read(char* data, size_t size) {
        size_t done = 0;
        while (done < size) {
            const zip_int64_t n = zip_fread(m_file, data + done, size - done);
            if (n < 0)
                fail(zip_file_get_error(m_file), m_item);
            if (n == 0)
                fail(ZIP_ER_EOF, m_item);
            done += size_t(n);
        }
        m_left -= size;
    }

private:
    zip_file_t* m_file = nullptr;
    uint64_t m_left;
    const QString& m_item;
};

// The plain stage: inflates (or passes through), counts, checks and hands the bytes to the sink.
class PlainStage {
public:
    PlainStage(bool deflated, const zip_stat_t& st, const QString& item, const ItemSink& sink)
        : m_deflated(deflated)
        , m_size(st.size)
        , m_crc(st.crc)
        , m_item(item)
        , m_sink(sink)
        , m_output(deflated ? outputSize : 0) {
        if (m_deflated && inflateInit2(&m_stream, -MAX_WBITS) != Z_OK)
            fail(ZIP_ER_MEMORY, m_item);
    }
    ~PlainStage() {
        if (m_deflated)
            inflateEnd(&m_stream);
    }
    PlainStage(const PlainStage&) = delete;
    PlainStage& operator=(const PlainStage&) = delete;

    void feed(const char* data, size_t size) {
        if (!m_deflated) {
            emit(data, size);
            return;
        }
        if (m_ended)
            return; // bytes after the end of the deflated stream carry nothing
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        m_stream.avail_in = uInt(size);
        while (m_stream.avail_in > 0 && !m_ended) {
            m_stream.next_out = reinterpret_cast<Bytef*>(m_output.data());
            m_stream.avail_out = uInt(m_output.size());
            const int result = inflate(&m_stream, Z_NO_FLUSH);
            if (result == Z_MEM_ERROR)
                fail(ZIP_ER_MEMORY, m_item);
            // Z_BUF_ERROR: no progress with input and room for output, which only broken data gives.
            if (result != Z_OK && result != Z_STREAM_END)
                fail(ZIP_ER_ZLIB, m_item);
            emit(m_output.data(), m_output.size() - m_stream.avail_out);
            m_ended = result == Z_STREAM_END;
        }
    }

    void finish() {
        if (m_deflated && !m_ended)
            fail(ZIP_ER_EOF, m_item);
        if (m_done != m_size)
            fail(ZIP_ER_INCONS, m_item);
        if (m_runningCrc != m_crc)
            fail(ZIP_ER_CRC, m_item);
    }

private:
    void emit(const char* data, size_t size) {
        if (size == 0)
            return;
        m_done += size;
        if (m_done > m_size)
            fail(ZIP_ER_INCONS, m_item);
        m_runningCrc = uint32_t(crc32(m_runningCrc, reinterpret_cast<const Bytef*>(data), uInt(size)));
        m_sink(data, size);
    }

    const bool m_deflated;
    const uint64_t m_size;
    const uint32_t m_crc;
    const QString& m_item;
    const ItemSink& m_sink;
    std::vector<char> m_output;
    z_stream m_stream{};
    bool m_ended = false;
    uint64_t m_done = 0;
    uint32_t m_runningCrc = 0;
};

// Blocks passed from the reading thread to the calling one, and back for reuse.
class BlockQueue {
public:
    struct Block {
        std::vector<char> data = std::vector<char>(blockSize);
        size_t size = 0; // 0: the end of the item
    };

    BlockQueue() {
        for (size_t i = 0; i < blocksInFlight; ++i)
            m_free.push_back(std::make_unique<Block>());
    }

    // Reading side: a free block, or null once the calling side has given up.
    std::unique_ptr<Block> takeFree() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_cancelled || !m_free.empty(); });
        if (m_cancelled)
            return nullptr;
        auto block = std::move(m_free.front());
        m_free.pop_front();
        return block;
    }
    void pushReady(std::unique_ptr<Block> block) {
        {
            std::lock_guard lock(m_mutex);
            m_ready.push_back(std::move(block));
        }
        m_changed.notify_all();
    }
    void fail(std::exception_ptr error) {
        {
            std::lock_guard lock(m_mutex);
            m_error = std::move(error);
        }
        m_changed.notify_all();
    }

    // Calling side: the next block in order; raises the reading side's error when it comes first.
    std::unique_ptr<Block> takeReady() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_error || !m_ready.empty(); });
        if (m_ready.empty())
            std::rethrow_exception(m_error);
        auto block = std::move(m_ready.front());
        m_ready.pop_front();
        return block;
    }
    void giveBack(std::unique_ptr<Block> block) {
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(std::move(block));
        }
        m_changed.notify_all();
    }
    void cancel() {
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
        }
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Block>> m_free;
    std::deque<std::unique_ptr<Block>> m_ready;
    std::exception_ptr m_error;
    bool m_cancelled = false;
};

void readPipelined(RawItem& raw, ZipCrypto* crypto, PlainStage& plain) {
    BlockQueue queue;
    std::thread reader([&] {
        try {
            for (;;) {
                auto block = queue.takeFree();
                if (!block)
                    return;
                block->size = size_t(std::min<uint64_t>(blockSize, raw.left()));
                raw.read(block->data.data(), block->size);
                if (crypto)
                    crypto->decrypt(block->data.data(), block->size);
                const bool last = block->size == 0;
                queue.pushReady(std::move(block));
                if (last)
                    return;
            }
        } catch (...) {
            queue.fail(std::current_exception());
        }
    });
    // The reading thread uses `raw` and `crypto`: it ends before they go, whatever happens here.
    struct Join {
        BlockQueue& queue;
        std::thread& thread;
        ~Join() {
            queue.cancel();
            thread.join();
        }
    } join{queue, reader};

    for (;;) {
        auto block = queue.takeReady();
        if (block->size == 0)
            break;
        plain.feed(block->data.data(), block->size);
        queue.giveBack(std::move(block));
    }
}

void readInLine(RawItem& raw, ZipCrypto* crypto, PlainStage& plain) {
    std::vector<char> buffer(size_t(std::min<uint64_t>(blockSize, raw.left())));
    while (raw.left() > 0) {
        const size_t n = size_t(std::min<uint64_t>(buffer.size(), raw.left()));
        raw.read(buffer.data(), n);
        if (crypto)
            crypto->decrypt(buffer.data(), n);
        plain.feed(buffer.data(), n);
    }
}

} // namespace

void readZipItem(zip* archive, uint64_t index, const QByteArray& password, const QString& item,
                 const ItemSink& sink, ItemReading reading) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, index, 0, &st) != 0)
        fail(zip_get_error(archive), item);
    const zip_uint64_t needed = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    if ((st.valid & needed) != needed)
        fail(ZIP_ER_INCONS, item);
    if (st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE)
        fail(ZIP_ER_COMPNOTSUPP, item);
    const bool encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    if (encrypted && st.encryption_method != ZIP_EM_TRAD_PKWARE)
        fail(ZIP_ER_ENCRNOTSUPP, item);

    RawItem raw(archive, index, encrypted ? ZIP_FL_ENCRYPTED : ZIP_FL_COMPRESSED, st.comp_size, item);
    std::unique_ptr<ZipCrypto> crypto;
    if (encrypted) {
        if (raw.left() < encryptionHeader)
            fail(ZIP_ER_EOF, item);
        char header[encryptionHeader];
        raw.read(header, encryptionHeader);
        crypto = std::make_unique<ZipCrypto>(password);
        crypto->decrypt(header, encryptionHeader);
        // The last header byte repeats the CRC's high byte, or the time's when the writer streamed.
        const int check = uint8_t(header[encryptionHeader - 1]);
        if (password.isEmpty())
            fail(ZIP_ER_NOPASSWD, item);
        if (check != int(st.crc >> 24) && check != dosTimeCheckByte(st))
            fail(ZIP_ER_WRONGPASSWD, item);
    }
    if (st.comp_method == ZIP_CM_STORE && raw.left() != st.size)
        fail(ZIP_ER_INCONS, item);

    PlainStage plain(st.comp_method == ZIP_CM_DEFLATE, st, item, sink);
    const bool pipelined = reading == ItemReading::Pipelined ||
                           (reading == ItemReading::Automatic && raw.left() >= pipelinedFrom);
    if (pipelined)
        readPipelined(raw, crypto.get(), plain);
    else
        readInLine(raw, crypto.get(), plain);
    plain.finish();
}

} // namespace archive
