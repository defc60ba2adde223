#include "peers/test_ca.h"

#include <QProcess>
#include <QStringList>

#include <vector>

namespace testpeers {

bool runOpenssl(const std::vector<std::string>& args) {
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("openssl", list);
    if (!p.waitForFinished(60000)) return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

TestCa::TestCa(const std::string& name) {
    cert_ = dir_.file("ca.pem");
    key_ = dir_.file("ca.key");
    ok_ = runOpenssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                      "-keyout", key_, "-out", cert_, "-days", "2", "-subj", "/CN=" + name, "-addext",
                      "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign"});
}

ServerCert TestCa::issue(const std::string& file, const std::string& alt) {
    ServerCert c{dir_.file(file + ".pem"), dir_.file(file + ".key")};
    const std::string csr = dir_.file(file + ".csr");
    const std::string ext = dir_.file(file + ".ext");
    testsupport::writeFile(ext, "subjectAltName=" + alt + "\nextendedKeyUsage=serverAuth\n");
    const bool made = runOpenssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                  "-nodes", "-keyout", c.key, "-out", csr, "-subj", "/CN=" + file}) &&
                      runOpenssl({"x509", "-req", "-in", csr, "-CA", cert_, "-CAkey", key_, "-CAcreateserial",
                                  "-out", c.cert, "-days", "2", "-extfile", ext});
    if (!made) c = {};
    return c;
}

} // namespace testpeers
