#include "db_engine.h"

#include "access_functions.h"
#include "base/system_error.h"
#include "sql/access_sql.h"
#include "sql/sql_tokenizer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sqlite3.h>

#include <cerrno>
#include <string>
#include <vector>

using base::errnoText;
using sql::quotedText;

namespace data_access {

namespace {

// How long a statement waits for a lock that another program holds, as the kit's own provider waits.
constexpr int busyTimeoutMs = 3000;
// Bounds of a batch of posted rows. A commit of the rollback journal waits for the disk several
// times: the batch is bounded mostly by its age, so that commits stay few at full speed.
constexpr int batchMaxRows = 5000;
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

bool bindValue(sqlite3_stmt* statement, int index, const QVariant& value) {
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(statement, index);
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
            rc = sqlite3_bind_int64(statement, index, value.toLongLong());
            break;
        case QMetaType::Double:
            rc = sqlite3_bind_double(statement, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob64(statement, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                                     SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray text = value.toString().toUtf8();
            rc = sqlite3_bind_text64(statement, index, text.constData(), sqlite3_uint64(text.size()),
                                     SQLITE_TRANSIENT, SQLITE_UTF8);
            break;
        }
        }
    }
    return rc == SQLITE_OK;
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
    if (!bindValue(m_statement, index, value))
        m_database->fail();
}

bool SqliteStatement::next() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const DataAccessError failure = m_database->failure();
    sqlite3_reset(m_statement);
    throw failure;
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
        throw providerError(ProviderFailure::FileMissing, path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
#ifdef _WIN32
        const QString reason = file.errorString();
#else
        const QString reason = QString::fromStdString(errnoText(errno));
#endif
        throw providerError(ProviderFailure::FileUnreadable, path, reason);
    }
    const QByteArray header = file.read(16);
    file.close();
    const bool plain = header == QByteArray("SQLite format 3\0", 16);
    // Encrypted files are whole pages of at least 512 bytes.
    if (!plain && (info.size() < 512 || info.size() % 512 != 0))
        throw providerError(ProviderFailure::NotADatabase, path);
    if (!plain && password.isEmpty())
        throw providerError(ProviderFailure::WrongPassword, path);

    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<SqliteDatabase> database(new SqliteDatabase(db, path));
    if (rc != SQLITE_OK)
        throw database->failure();
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    if (!plain)
        sqlite3_exec(db, ("PRAGMA key = " + quotedText(password).toStdString()).c_str(), nullptr, nullptr,
                     nullptr);

    // The first read tells a wrong key, a damaged file or a lock; it also rolls back what a killed
    // writer left in a hot journal. The file's journal mode is its own: opening never changes it.
    const int check = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (check == SQLITE_NOTADB && !plain)
        throw providerError(ProviderFailure::WrongPassword, path);
    if (check == SQLITE_NOTADB || check == SQLITE_ERROR)
        throw providerError(ProviderFailure::Damaged, path);
    if (check != SQLITE_OK)
        throw database->failure();

    // LIKE and Access's functions come with the dialect.
    if (sqlite3_create_collation(db, sql::collation, SQLITE_UTF8, nullptr, compareIgnoringCase) !=
            SQLITE_OK ||
        !registerAccessFunctions(db))
        database->fail();
    return database;
}

SqliteDatabase::SqliteDatabase(sqlite3* db, QString path)
    : m_db(db)
    , m_path(std::move(path)) {}

SqliteDatabase::~SqliteDatabase() {
    if (postBatchOwner == this) {
        try {
            commitPostBatch();
        } catch (const DataAccessError&) {
            // Closing cannot report; the rows the file could take are in it.
        }
    }
    sqlite3_close_v2(m_db);
}

SqliteStatement SqliteDatabase::prepare(const QString& sql) {
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &statement, nullptr) != SQLITE_OK)
        fail();
    if (!statement) // only spaces
        throw providerError(ProviderFailure::InvalidStatement);
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

DataAccessError SqliteDatabase::failure() const {
    const int code = sqlite3_extended_errcode(m_db);
    const int system = sqlite3_system_errno(m_db);
    const auto reason = [&] {
        return system != 0 ? QString::fromStdString(errnoText(system)) : message(m_db);
    };
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return providerError(ProviderFailure::Locked, m_path);
    case SQLITE_FULL:
        return providerError(ProviderFailure::DiskFull, m_path);
    case SQLITE_READONLY:
        return providerError(ProviderFailure::ReadOnly, m_path);
    case SQLITE_IOERR:
        if (system == ENOSPC)
            return providerError(ProviderFailure::DiskFull, m_path);
        return providerError(ProviderFailure::IoError, m_path, reason());
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return providerError(ProviderFailure::Damaged, m_path);
    case SQLITE_CANTOPEN:
        return providerError(ProviderFailure::CannotOpen, m_path, reason());
    case SQLITE_CONSTRAINT:
        if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY)
            return providerError(ProviderFailure::Duplicate);
        if (code == SQLITE_CONSTRAINT_NOTNULL) // "NOT NULL constraint failed: table.column"
            return providerError(ProviderFailure::NullNotAllowed, message(m_db).section(u' ', -1));
        return dataAccessError(message(m_db));
    default:
        return dataAccessError(message(m_db));
    }
}

void SqliteDatabase::fail() const {
    throw failure();
}

void SqliteDatabase::joinPostBatch() {
    if (postBatchOwner == this)
        return;
    settlePostBatch();
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
    postBatchOwner = this;
    m_batch.clear();
    m_batchAge.start();
    // At the latest when control is back in the event loop.
    QCoreApplication* application = QCoreApplication::instance();
    if (application && QThread::currentThread() == application->thread())
        QMetaObject::invokeMethod(application, &SqliteDatabase::settlePostBatch, Qt::QueuedConnection);
}

void SqliteDatabase::rowPosted(const QString& sql, std::vector<QVariant> values) {
    if (postBatchOwner != this)
        return;
    m_batch.push_back({sql, std::move(values)});
    if (int(m_batch.size()) >= batchMaxRows || m_batchAge.elapsed() >= batchMaxAgeMs)
        commitPostBatch();
}

void SqliteDatabase::commitPostBatch() {
    if (postBatchOwner != this)
        return;
    postBatchOwner = nullptr;
    const std::vector<PostedWrite> batch = std::move(m_batch);
    m_batch.clear();
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
        return;
    // The engine may have rolled the whole transaction back already (a full disk): the rows whose
    // Post returned are stored again, in smaller and smaller steps, so that every row the file can
    // still take is in it. A lock that another program holds past the wait ends the attempt.
    const DataAccessError cause = failure();
    const bool locked = isLockFailure();
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (locked)
        throw cause;
    std::optional<DataAccessError> lost;
    storeAgain(batch, 0, batch.size(), lost);
    if (lost)
        throw *lost;
}

bool SqliteDatabase::isLockFailure() const {
    const int code = sqlite3_errcode(m_db) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

bool SqliteDatabase::storeRange(const std::vector<PostedWrite>& batch, size_t first, size_t last,
                                std::optional<DataAccessError>& why, bool& locked) {
    const auto failed = [&] {
        why = failure();
        locked = isLockFailure();
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failed();
    QString preparedSql;
    SqliteStatement statement;
    for (size_t i = first; i < last; ++i) {
        if (!statement || batch[i].sql != preparedSql) {
            statement = SqliteStatement();
            sqlite3_stmt* handle = nullptr;
            const QByteArray text = batch[i].sql.toUtf8();
            if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &handle, nullptr) != SQLITE_OK)
                return failed();
            statement = SqliteStatement(*this, handle);
            preparedSql = batch[i].sql;
        }
        int parameter = 1;
        for (const QVariant& value : batch[i].values)
            if (!bindValue(statement.handle(), parameter++, value))
                return failed();
        const int rc = sqlite3_step(statement.handle());
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            why = failure();
            locked = isLockFailure();
            statement = SqliteStatement();
            if (!sqlite3_get_autocommit(m_db))
                sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
        sqlite3_reset(statement.handle());
    }
    statement = SqliteStatement();
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failed();
    return true;
}

void SqliteDatabase::storeAgain(const std::vector<PostedWrite>& batch, size_t first, size_t last,
                                std::optional<DataAccessError>& lost) {
    if (first >= last)
        return;
    std::optional<DataAccessError> why;
    bool locked = false;
    if (storeRange(batch, first, last, why, locked))
        return;
    if (last - first == 1 || locked) {
        if (!lost)
            lost = why;
        return;
    }
    const size_t middle = first + (last - first) / 2;
    storeAgain(batch, first, middle, lost);
    storeAgain(batch, middle, last, lost);
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

} // namespace data_access
