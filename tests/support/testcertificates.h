#pragma once

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

// Throwaway TLS certificates for the test servers, made with openssl.
namespace testcertificates {

struct Certificate
{
    QString certificateFile;
    QString keyFile;
    QString sha256; // "AB:CD:..."
    QString error;
};

inline QString runOpenssl(const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return QStringLiteral("openssl %1 failed: %2")
            .arg(arguments.join(u' '), QString::fromLocal8Bit(openssl.readAllStandardError()));
    if (output)
        *output = openssl.readAllStandardOutput();
    return {};
}

inline QString fingerprintOf(const QString &certificateFile, QString *sha256)
{
    QByteArray output;
    const QString error =
        runOpenssl({QStringLiteral("x509"), QStringLiteral("-in"), certificateFile, QStringLiteral("-noout"),
                    QStringLiteral("-fingerprint"), QStringLiteral("-sha256")},
                   &output);
    *sha256 = QString::fromLatin1(output.trimmed()).section(u'=', 1);
    return error;
}

// A self-signed certificate issued to the name, in the folder, as name.pem and name.key.
inline Certificate selfSigned(const QString &folder, const QString &name)
{
    Certificate made{QDir(folder).filePath(name + QStringLiteral(".pem")),
                     QDir(folder).filePath(name + QStringLiteral(".key")),
                     {},
                     {}};
    made.error = runOpenssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                             QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                             made.keyFile, QStringLiteral("-out"), made.certificateFile, QStringLiteral("-days"),
                             QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=") + name});
    if (made.error.isEmpty())
        made.error = fingerprintOf(made.certificateFile, &made.sha256);
    return made;
}

// An authority, and a certificate it issued to the name (an IP address or a host name).
inline Certificate issuedBy(const Certificate &authority, const QString &folder, const QString &name)
{
    Certificate made{QDir(folder).filePath(name + QStringLiteral("-leaf.pem")),
                     QDir(folder).filePath(name + QStringLiteral("-leaf.key")),
                     {},
                     {}};
    const QString request = QDir(folder).filePath(name + QStringLiteral(".csr"));
    const QString extensions = QDir(folder).filePath(name + QStringLiteral(".ext"));
    QFile file(extensions);
    if (!file.open(QIODevice::WriteOnly)) {
        made.error = QStringLiteral("cannot write %1").arg(extensions);
        return made;
    }
    const bool address = name.front().isDigit();
    file.write(QStringLiteral("subjectAltName = %1:%2\n")
                   .arg(address ? QStringLiteral("IP") : QStringLiteral("DNS"), name)
                   .toUtf8());
    file.close();
    made.error = runOpenssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                             QStringLiteral("-nodes"), QStringLiteral("-keyout"), made.keyFile, QStringLiteral("-out"),
                             request, QStringLiteral("-subj"), QStringLiteral("/CN=") + name});
    if (made.error.isEmpty()) {
        made.error =
            runOpenssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                        QStringLiteral("-CA"), authority.certificateFile, QStringLiteral("-CAkey"), authority.keyFile,
                        QStringLiteral("-CAcreateserial"), QStringLiteral("-days"), QStringLiteral("2"),
                        QStringLiteral("-extfile"), extensions, QStringLiteral("-out"), made.certificateFile});
    }
    if (made.error.isEmpty())
        made.error = fingerprintOf(made.certificateFile, &made.sha256);
    return made;
}

} // namespace testcertificates
