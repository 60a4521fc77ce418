// The address directory: the SOATO table of the updater-side address database, and the merge of the
// modules' address databases into the installation's main address database.

#include "data_access/data_access_error.h"
#include "data_access/file_copy.h"
#include "db/connection_strings.h"
#include "db/database_files.h"
#include "db/database_steps.h"
#include "db/tables.h"
#include "filesystem/paths.h"
#include "registry/registry.h"
#include "seams/activity_log.h"
#include "seams/dialogs.h"

#include <QFileInfo>

using data_access::copyDatabaseFile;
using data_access::DataAccessError;
using registry::Registry;

namespace {

QString withSeparator(QString folder) {
    if (!folder.endsWith(u'\\') && !folder.endsWith(u'/'))
        folder += filesystem::separator();
    return folder;
}

} // namespace

void db::DatabaseSteps::Update_base_adress() {
    // Expected closed, or open on the SOATO database already: an open connection keeps its string.
    ADOConnection2.setConnectionString(db::connectionStringWithoutPassword(
        db::locations::pathIn(m_updaterFolder, {db::locations::resFolder, db::locations::soatoBase})));
    ADOConnection2.setLoginPrompt(false);
    try {
        ADOConnection2.Open();
    } catch (const DataAccessError&) {
        reportProviderErrors(ADOConnection2);
    }
    try {
        openSql(ADOQuery2, QStringLiteral("Select soato_id,  soato_name from soato"));
    } catch (const std::exception&) {
        m_dialogs.showMessage(QStringLiteral("Ошибка копирования базы адресов регионов!"));
    }

    const QString adress = filesystem::removeFolderName(m_updaterFolder, db::locations::archiveFolderName) +
                           db::locations::adressBase;
    if (ADOConnection1.Connected())
        ADOConnection1.Close();
    ADOConnection1.setConnectionString(db::connectionStringWithoutPassword(adress));
    ADOConnection1.setLoginPrompt(false);
    try {
        ADOConnection1.Open();
    } catch (const DataAccessError&) {
        reportProviderErrors(ADOConnection1);
    }

    // The rest is unguarded: a table that exists already ends the operation here.
    execSql(ADOQuery1,
            QStringLiteral(" CREATE TABLE soato_adress (soato_id INTEGER CONSTRAINT PrimaryKey PRIMARY KEY,  "
                           "soato_name STRING );"));
    ADOTable1.setTableName(db::soato_adress::name);
    ADOTable1.Open();
    for (ADOQuery2.First(); !ADOQuery2.Eof(); ADOQuery2.Next()) {
        const int id = ADOQuery2.FieldByName(db::soato::soato_id).AsInteger();
        const QString name = ADOQuery2.FieldByName(db::soato::soato_name).AsString();
        ADOTable1.Insert();
        ADOTable1.FieldByName(db::soato_adress::soato_id).setAsInteger(id);
        ADOTable1.FieldByName(db::soato_adress::soato_name).setAsString(name);
        ADOTable1.Post();
    }
    ADOConnection1.Close();
    ADOConnection2.Close();
}

bool db::DatabaseSteps::CopyAdressTables() {
    // CopyTable reports and absorbs its own failures; one that escapes ends the module's transfer.
    try {
        for (const QString& table : db::addressTables)
            CopyTable(table);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void db::DatabaseSteps::TransferAdress() {
    Registry& registry = *m_registry;
    const auto folderOf = [&](const char* section) {
        return withSeparator(registry.readString(QString::fromLatin1(section), QStringLiteral("ProgrammPath"),
                                                 QStringLiteral("false")));
    };
    const QString installation = folderOf("vus_bistral");
    const QString vusModule = folderOf("VUSBase");
    const QString adModule = folderOf("SchoolBase");
    const QString dopModule = folderOf("VUS_dop");
    // The installation folder is read once more for its OtherBase folder: the reads keep their order.
    const QString otherBase =
        db::locations::pathIn(folderOf("vus_bistral"), {db::locations::otherBaseFolder});
    const QString mainAdress =
        db::locations::pathIn(installation, {db::locations::otherBaseFolder, db::locations::adressBase});
    const QString spare =
        db::locations::pathIn(m_updaterFolder, {db::locations::resFolder, db::locations::adressBase});

    if (filesystem::fileExists(mainAdress))
        return;
    if (QFileInfo(otherBase).isDir() && filesystem::fileExists(spare)) {
        // Never over a file of that name; a failed copy shows in the connect below.
        copyDatabaseFile(spare, QString(), otherBase + filesystem::separator() + db::locations::adressBase,
                         false);
    } else {
        AddToLog(QStringLiteral("Ошибка копирования файла базы адресов!"));
        return;
    }
    if (!connectToBaseUser(mainAdress, QString())) {
        AddToLog(QStringLiteral("Ошибка соединения с основной базой адресов"));
        return;
    }
    const std::pair<const QString*, const char*> modules[] = {
        {&vusModule, "Перенос базы адресов ВУСа - успешно"},
        {&adModule, "Перенос базы адресов АД - успешно"},
        {&dopModule, "Перенос базы адресов ДОПов - успешно"},
    };
    for (const auto& [folder, success] : modules)
        if (connectToBase2(*folder + db::locations::adressBase, QString()) && CopyAdressTables())
            AddToLog(QString::fromUtf8(success));
}
