#include "platform/db_engine.h"

#include "platform/access_functions.h"
#include "platform/access_sql.h"
#include "platform/sql_tokenizer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sqlite3.h>

#include <string>
#include <vector>

namespace {

// How long a statement waits for a lock that another program holds.
constexpr int busyTimeoutMs = 2000;
// Bounds of a batch of posted rows.
constexpr int batchMaxRows = 1000;
constexpr qint64 batchMaxAgeMs = 200;

SqliteDatabase* postBatchOwner = nullptr;

// --- Text comparison without regard to letter case, as Access compares.

std::u32string folded(const unsigned char* text, int bytes) {
    const QString string = QString::fromUtf8(reinterpret_cast<const char*>(text), bytes);
    std::u32string out;
    out.reserve(string.size());
    for (char32_t c : string.toUcs4())
        out.push_back(QChar::toCaseFolded(c));
    return out;
}

int compareIgnoringCase(void*, int size1, const void* text1, int size2, const void* text2) {
    const std::u32string a = folded(static_cast<const unsigned char*>(text1), size1);
    const std::u32string b = folded(static_cast<const unsigned char*>(text2), size2);
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

struct PatternItem {
    enum Kind { Any, One, Literal } kind;
    char32_t c = 0;
};

bool likeMatches(const std::vector<PatternItem>& pattern, const std::u32string& text) {
    size_t p = 0, t = 0, starP = std::u32string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p].kind == PatternItem::One ||
                                   (pattern[p].kind == PatternItem::Literal && pattern[p].c == text[t]))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p].kind == PatternItem::Any) {
            starP = p++;
            starT = t;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p].kind == PatternItem::Any)
        ++p;
    return p == pattern.size();
}

// like(pattern, text [, escape]): LIKE with % and _ that ignores letter case beyond ASCII.
void likeIgnoringCase(sqlite3_context* context, int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
            sqlite3_result_null(context);
            return;
        }
    const std::u32string pattern = folded(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]));
    const std::u32string text = folded(sqlite3_value_text(argv[1]), sqlite3_value_bytes(argv[1]));
    std::optional<char32_t> escape;
    if (argc == 3) {
        const std::u32string e = folded(sqlite3_value_text(argv[2]), sqlite3_value_bytes(argv[2]));
        if (e.size() != 1) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = e[0];
    }
    std::vector<PatternItem> items;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char32_t c = pattern[i];
        if (escape && c == *escape && i + 1 < pattern.size())
            items.push_back({PatternItem::Literal, pattern[++i]});
        else if (c == U'%')
            items.push_back({PatternItem::Any});
        else if (c == U'_')
            items.push_back({PatternItem::One});
        else
            items.push_back({PatternItem::Literal, c});
    }
    sqlite3_result_int(context, likeMatches(items, text) ? 1 : 0);
}

QByteArray fileName(const QString& path) {
#ifdef _WIN32
    return path.toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

QString message(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
}

} // namespace

// --- SqliteStatement

SqliteStatement::SqliteStatement(SqliteDatabase& database, sqlite3_stmt* statement)
    : m_database(&database)
    , m_statement(statement) {}

SqliteStatement::~SqliteStatement() {
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_database(other.m_database)
    , m_statement(std::exchange(other.m_statement, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_database = other.m_database;
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

void SqliteStatement::bind(int index, const QVariant& value) {
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_statement, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Long:
            rc = sqlite3_bind_int64(m_statement, index, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(m_statement, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(m_statement, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                     SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(m_statement, index, text.constData(), sqlite3_uint64(text.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        }
        }
    }
    if (rc != SQLITE_OK)
        m_database->fail();
}

bool SqliteStatement::next() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const QString text = message(m_database->handle());
    sqlite3_reset(m_statement);
    throw dataAccessError(text);
}

void SqliteStatement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

int SqliteStatement::columnCount() const {
    return sqlite3_column_count(m_statement);
}

QVariant SqliteStatement::value(int column) const {
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_statement, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_statement, column));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
                              sqlite3_column_bytes(m_statement, column)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
                                   sqlite3_column_bytes(m_statement, column)));
    default:
        return QVariant();
    }
}

// --- SqliteDatabase

std::unique_ptr<SqliteDatabase> SqliteDatabase::open(const QString& path, const QString& password) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        throw dataAccessError(QStringLiteral("File not found: '%1'.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw dataAccessError(
            QStringLiteral("The file '%1' cannot be read: %2.").arg(path, file.errorString()));
    const QByteArray header = file.read(16);
    file.close();
    const bool plain = header == QByteArray("SQLite format 3\0", 16);
    // Encrypted files are whole pages of at least 512 bytes.
    if (!plain && (info.size() < 512 || info.size() % 512 != 0))
        throw dataAccessError(QStringLiteral("The file '%1' is not a database.").arg(path));
    if (!plain && password.isEmpty())
        throw dataAccessError(
            QStringLiteral("Not a valid password: the database '%1' is encrypted and no password was given.")
                .arg(path));

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<SqliteDatabase> database(new SqliteDatabase(db));
    if (rc != SQLITE_OK)
        throw dataAccessError(
            QStringLiteral("The database '%1' cannot be opened: %2.").arg(path, message(db)));
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (!plain)
        sqlite3_exec(db, ("PRAGMA key = " + quotedText(password).toStdString()).c_str(), nullptr, nullptr,
                     nullptr);

    // The first read tells a wrong key, a damaged file or a lock.
    const int check = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    switch (check) {
    case SQLITE_OK:
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw dataAccessError(QStringLiteral("The database '%1' is locked by another program.").arg(path));
    case SQLITE_NOTADB:
        if (!plain)
            throw dataAccessError(
                QStringLiteral("Not a valid password for the database '%1' (or the file is not a database).")
                    .arg(path));
        [[fallthrough]];
    case SQLITE_CORRUPT:
    case SQLITE_ERROR:
        throw dataAccessError(QStringLiteral("The database '%1' is damaged (%2).").arg(path, message(db)));
    default:
        throw dataAccessError(
            QStringLiteral("The database '%1' cannot be opened: %2.").arg(path, message(db)));
    }

    if (sqlite3_create_collation(db, access_sql::collation, SQLITE_UTF8, nullptr, compareIgnoringCase) !=
            SQLITE_OK ||
        sqlite3_create_function(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeIgnoringCase,
                                nullptr, nullptr) != SQLITE_OK ||
        sqlite3_create_function(db, "like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, likeIgnoringCase,
                                nullptr, nullptr) != SQLITE_OK ||
        !registerAccessFunctions(db))
        database->fail();
    database->prepareJournal();
    return database;
}

SqliteDatabase::SqliteDatabase(sqlite3* db)
    : m_db(db) {}

// A posted row must not cost a disk sync: write-ahead logging with synchronous=NORMAL commits without
// one and still keeps the file consistent after a crash, and readers of other programs never wait
// for our writes. A file that cannot switch (read-only media) keeps its journal.
void SqliteDatabase::prepareJournal() {
    SqliteStatement query = prepare(QStringLiteral("PRAGMA journal_mode"));
    const QString current = query.next() ? query.value(0).toString().toLower() : QString();
    query = SqliteStatement();
    if (current == u"wal") {
        sqlite3_exec(m_db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
        return;
    }
    sqlite3_busy_timeout(m_db, 0);
    sqlite3_stmt* statement = nullptr;
    QString mode;
    if (sqlite3_prepare_v2(m_db, "PRAGMA journal_mode = WAL", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        mode = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))).toLower();
    sqlite3_finalize(statement);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    if (mode == u"wal") {
        m_journalToRestore = current;
        sqlite3_exec(m_db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    }
}

SqliteDatabase::~SqliteDatabase() {
    if (postBatchOwner == this) {
        try {
            commitPostBatch();
        } catch (const DataAccessError&) {
            // Closing cannot report; the rows of the batch were rolled back.
        }
    }
    if (!m_journalToRestore.isEmpty()) {
        // The file goes back to the journal it had, when no other connection holds it.
        sqlite3_busy_timeout(m_db, 0);
        sqlite3_exec(m_db, ("PRAGMA journal_mode = " + m_journalToRestore.toStdString()).c_str(), nullptr,
                     nullptr, nullptr);
    }
    sqlite3_close_v2(m_db);
}

SqliteStatement SqliteDatabase::prepare(const QString& sql) {
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &statement, nullptr) != SQLITE_OK)
        fail();
    if (!statement) // only spaces
        throw dataAccessError(QStringLiteral("The statement is empty."));
    return SqliteStatement(*this, statement);
}

void SqliteDatabase::execute(const QString& sql) {
    SqliteStatement statement = prepare(sql);
    while (statement.next()) {
    }
}

qint64 SqliteDatabase::lastInsertRowId() const {
    return sqlite3_last_insert_rowid(m_db);
}

int SqliteDatabase::changes() const {
    return sqlite3_changes(m_db);
}

void SqliteDatabase::fail() const {
    throw dataAccessError(message(m_db));
}

void SqliteDatabase::joinPostBatch() {
    if (postBatchOwner == this)
        return;
    settlePostBatch();
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
    postBatchOwner = this;
    m_batchRows = 0;
    m_batchAge.start();
    // At the latest when control is back in the event loop.
    QCoreApplication* application = QCoreApplication::instance();
    if (application && QThread::currentThread() == application->thread())
        QMetaObject::invokeMethod(application, &SqliteDatabase::settlePostBatch, Qt::QueuedConnection);
}

void SqliteDatabase::rowPosted() {
    if (postBatchOwner != this)
        return;
    if (++m_batchRows >= batchMaxRows || m_batchAge.elapsed() >= batchMaxAgeMs)
        commitPostBatch();
}

void SqliteDatabase::commitPostBatch() {
    if (postBatchOwner != this)
        return;
    postBatchOwner = nullptr;
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return;
    const QString text = message(m_db);
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw dataAccessError(QStringLiteral("The rows posted last could not be saved: %1").arg(text));
}

void SqliteDatabase::settlePostBatch() {
    SqliteDatabase* owner = postBatchOwner;
    if (!owner)
        return;
    try {
        owner->commitPostBatch();
    } catch (const DataAccessError& failure) {
        owner->m_deferredFailure = failure;
    }
}

void SqliteDatabase::raiseDeferredFailure() {
    if (!m_deferredFailure)
        return;
    const DataAccessError failure = *m_deferredFailure;
    m_deferredFailure.reset();
    throw failure;
}
