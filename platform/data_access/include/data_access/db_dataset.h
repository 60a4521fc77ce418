#pragma once

#include "data_access/db_field.h"
#include "data_access/db_types.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <memory>

namespace data_access {

class DbConnection;

// What queries and tables share: opening on a connection (which opens the connection when it is
// closed), a snapshot of rows read at open, a cursor over them, fields by name and Locate.
class DbDataSet {
public:
    explicit DbDataSet(DbConnection& connection);
    virtual ~DbDataSet();
    DbDataSet(const DbDataSet&) = delete;
    DbDataSet& operator=(const DbDataSet&) = delete;

    DbConnection* Connection() const { return m_connection; }

    // Opening reads every row; the cursor stands on the first one. Opening an open data set does
    // nothing. Closing drops a row being inserted or edited and not posted.
    void Open();
    void Close();
    bool Active() const;
    void setActive(bool active);

    void First();
    void Next();
    bool Eof() const; // after the last row, and at once when there is none
    bool Bof() const;
    int RecordCount() const;

    // The columns in order; for a query the result's.
    const QList<DbFieldDef>& FieldDefs() const;
    // A column by name, letter case ignored; in a join also "table.column". The first column of a
    // name wins. Raises Error for a name the data set lacks.
    DbField FieldByName(const QString& name);

    // Makes current the first row whose `keyFields` (names joined by ";") hold `keyValues` (one
    // value, or a list with one per key field). Values compare as the field's type takes them (the
    // text "5" finds the integer 5); texts compare exactly unless loCaseInsensitive. False, and the
    // cursor stays, when no row matches.
    bool Locate(const QString& keyFields, const QVariant& keyValues, DbLocateOptions options = {});

protected:
    struct State;

    // Reads the columns and rows into the state; the connection is open.
    virtual void openCursor() = 0;
    // Stores a row being inserted or edited (tables); called before the cursor moves.
    virtual void postPending() {}
    // The data set has closed: let go of what belongs to the open state.
    virtual void cursorClosed() {}

    DbConnection& connection() const; // raises Error when the connection is gone
    State& state() const { return *d; }
    void requireActive() const;
    void checkBrowseMode();
    // Closes without ending the connection's use (no self-close, no commit).
    void closeWithoutRelease();

private:
    friend class DbConnection;
    friend class DbField;

    DbConnection* m_connection;
    std::unique_ptr<State> d;
};

} // namespace data_access
