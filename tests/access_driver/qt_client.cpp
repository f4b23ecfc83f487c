// Qt's QODBC as a client of the client matrix: prints the rows of SQL on a
// data source, tab-separated, NULL as NULL, "ERROR: ..." on failure.
//
//   qt_client DSN SQL [PARAM...]
//
// SQL "TABLES" lists the tables; "PASTEND sql" reads every row, then asks for
// three more and prints "AFTER n" with the number it was given.
#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace {

void Print(const QString& line) { std::printf("%s\n", line.toUtf8().constData()); }

QString Field(const QVariant& value) {
    if (value.isNull())
        return QStringLiteral("NULL");
    if (value.metaType().id() == QMetaType::QDateTime) {
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return value.toString();
}

int Run(const QStringList& args) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"));
    db.setDatabaseName(args.at(1));
    if (!db.open()) {
        Print(QStringLiteral("ERROR: ") + db.lastError().text());
        return 0;
    }
    QString sql = args.at(2);
    if (sql == QLatin1String("TABLES")) {
        for (const QString& table : db.tables(QSql::Tables))
            Print(table);
        return 0;
    }
    const bool past = sql.startsWith(QLatin1String("PASTEND "));
    if (past)
        sql = sql.mid(8);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql)) {
        Print(QStringLiteral("ERROR: ") + query.lastError().text());
        return 0;
    }
    for (int i = 3; i < args.size(); ++i)
        query.addBindValue(args.at(i));
    if (!query.exec()) {
        Print(QStringLiteral("ERROR: ") + query.lastError().text());
        return 0;
    }
    while (query.next()) {
        QStringList fields;
        for (int i = 0; i < query.record().count(); ++i)
            fields << Field(query.value(i));
        Print(fields.join(QLatin1Char('\t')));
    }
    if (past) {
        int more = 0;
        for (int i = 0; i < 3; ++i)
            more += query.next() ? 1 : 0;
        Print(QStringLiteral("AFTER %1").arg(more));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: qt_client DSN SQL [PARAM...]\n");
        return 2;
    }
    return Run(app.arguments());
}
