#include "messengers/purple/purpleparts.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>

#include <algorithm>

using namespace Qt::StringLiterals;
using purpletext::fromUtf8;

Q_DECLARE_LOGGING_CATEGORY(lcPurple)

namespace {

// Certificates. Every server certificate is verified by the program
// itself, and nothing is ever trusted for next time: a certificate that fails
// refuses the connection and is stored nowhere. A server the operator hosts
// is trusted on purpose, by its pinned fingerprint or by an extra authority.

struct Trust
{
    QByteArray pinnedFingerprint; // SHA-256, raw bytes; empty when none is pinned
    QList<PurpleCertificate *> authorities;
    // The names the certificate may be issued to; empty: the host connected to.
    QStringList names;
};

QHash<QString, Trust> &trustByHost()
{
    static QHash<QString, Trust> trust;
    return trust;
}

QString hexFingerprint(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(':').toUpper());
}

QByteArray sha256Of(PurpleCertificate *certificate)
{
    GByteArray *digest = purple_certificate_get_fingerprint_sha256(certificate, FALSE);
    if (!digest)
        return {};
    QByteArray bytes(reinterpret_cast<const char *>(digest->data), int(digest->len));
    g_byte_array_free(digest, TRUE);
    return bytes;
}

QString subjectOf(PurpleCertificate *certificate)
{
    gchar *subject = purple_certificate_get_subject_name(certificate);
    const QString text = fromUtf8(subject);
    g_free(subject);
    return text;
}

bool sameCertificate(PurpleCertificate *a, PurpleCertificate *b)
{
    const QByteArray first = sha256Of(a);
    return !first.isEmpty() && first == sha256Of(b);
}

// Whether the chain ends at an authority this machine trusts, or one that the
// settings add for this host.
bool issuedByTrustedAuthority(GList *chain, const Trust &trust)
{
    if (!purple_certificate_check_signature_chain(chain))
        return false;
    PurpleCertificate *last = static_cast<PurpleCertificate *>(g_list_last(chain)->data);
    QList<PurpleCertificate *> authorities = trust.authorities;
    if (PurpleCertificatePool *system = purple_certificate_find_pool("x509", "ca")) {
        gchar *issuer = purple_certificate_get_issuer_unique_id(last);
        if (issuer && purple_certificate_pool_contains(system, issuer)) {
            if (PurpleCertificate *authority = purple_certificate_pool_retrieve(system, issuer))
                authorities.append(authority);
        }
        g_free(issuer);
    }
    bool trusted = false;
    for (PurpleCertificate *authority : std::as_const(authorities)) {
        if (sameCertificate(last, authority) || purple_certificate_signed_by(last, authority)) {
            trusted = true;
            break;
        }
    }
    // Those taken from the system's pool were copies for this check.
    for (qsizetype i = trust.authorities.size(); i < authorities.size(); ++i)
        purple_certificate_destroy(authorities[i]);
    return trusted;
}

// Why the certificate chain is not to be trusted for the host; empty when it is.
QString whyRefused(const QString &host, GList *chain, const Trust &trust)
{
    auto *leaf = static_cast<PurpleCertificate *>(chain->data);
    if (!trust.pinnedFingerprint.isEmpty()) {
        if (sha256Of(leaf) == trust.pinnedFingerprint)
            return {};
        return u"it is not the certificate pinned by tls-fingerprint (%1)"_s.arg(
            hexFingerprint(trust.pinnedFingerprint));
    }
    time_t activation = 0;
    time_t expiration = 0;
    const time_t now = time(nullptr);
    if (purple_certificate_get_times(leaf, &activation, &expiration)) {
        if (now < activation)
            return u"it is not valid yet"_s;
        if (now > expiration)
            return u"it has expired"_s;
    }
    const QStringList names = trust.names.isEmpty() ? QStringList{host} : trust.names;
    const bool named = std::any_of(names.cbegin(), names.cend(), [leaf](const QString &name) {
        return purple_certificate_check_subject_name(leaf, name.toUtf8().constData());
    });
    if (!named)
        return u"it was issued to %1, not to %2"_s.arg(subjectOf(leaf), names.join(u" or "_s));
    if (!issuedByTrustedAuthority(chain, trust)) {
        if (g_list_length(chain) == 1 && purple_certificate_signed_by(leaf, leaf))
            return u"it is self-signed"_s;
        return u"it was not issued by an authority this machine trusts"_s;
    }
    return {};
}

void verifyCertificate(PurpleCertificateVerificationRequest *request)
{
    const QString host = fromUtf8(request->subject_name);
    if (!request->cert_chain) {
        purple_certificate_verify_complete(request, PURPLE_CERTIFICATE_INVALID);
        return;
    }
    const Trust trust = trustByHost().value(host.toLower());
    const QString why = whyRefused(host, request->cert_chain, trust);
    if (why.isEmpty()) {
        purple_certificate_verify_complete(request, PURPLE_CERTIFICATE_VALID);
        return;
    }
    const QString fingerprint = hexFingerprint(sha256Of(static_cast<PurpleCertificate *>(request->cert_chain->data)));
    {
        PurpleRuntime::Parts::tell(
            u"The certificate of %1 was refused: %2. Its SHA-256 fingerprint is %3. To trust this "
            u"server on purpose, write \"tls-fingerprint = %3\" in network.conf, or name the file of "
            u"the authority that issued it with \"tls-ca-file = PATH\"."_s.arg(host, why, fingerprint));
    }
    purple_certificate_verify_complete(request, PURPLE_CERTIFICATE_INVALID);
}

void forgetRequest(PurpleCertificateVerificationRequest *) {}

// The verifier that libpurple's TLS connections ask, by this name.
PurpleCertificateVerifier certificateVerifier = {const_cast<gchar *>("x509"),
                                                 const_cast<gchar *>("tls_cached"),
                                                 verifyCertificate,
                                                 forgetRequest,
                                                 nullptr,
                                                 nullptr,
                                                 nullptr,
                                                 nullptr};

} // namespace

void PurpleRuntime::Parts::takeOverCertificateVerification(const QString &userFolder)
{
    PurpleCertificateVerifier *own = purple_certificate_find_verifier("x509", "tls_cached");
    if (own && own != &certificateVerifier)
        purple_certificate_unregister_verifier(own);
    if (purple_certificate_find_verifier("x509", "tls_cached") != &certificateVerifier)
        purple_certificate_register_verifier(&certificateVerifier);
    // Certificates an earlier version let libpurple trust for next time are
    // trusted no more.
    QDir(QDir(userFolder).filePath(u"certificates/x509/tls_peers"_s)).removeRecursively();
}

namespace PurpleRuntime {

QString trustServer(const QString &host, const QStringList &names, const QByteArray &pinnedFingerprint,
                    const QString &authorityFile)
{
    Trust &trust = trustByHost()[host.toLower()];
    trust.pinnedFingerprint = pinnedFingerprint;
    trust.names = names;
    for (PurpleCertificate *authority : std::as_const(trust.authorities))
        purple_certificate_destroy(authority);
    trust.authorities.clear();
    if (authorityFile.isEmpty())
        return {};
    PurpleCertificateScheme *x509 = purple_certificate_find_scheme("x509");
    GSList *imported = x509 ? purple_certificates_import(x509, QFile::encodeName(authorityFile).constData()) : nullptr;
    if (!imported)
        return u"no certificate could be read from %1 (it must hold PEM certificates)"_s.arg(authorityFile);
    for (GSList *item = imported; item; item = item->next)
        trust.authorities.append(static_cast<PurpleCertificate *>(item->data));
    g_slist_free(imported);
    return {};
}

} // namespace PurpleRuntime
