// Opening a document through the folder's own descriptor must give the same
// answer as the full check of where the file really is, for every kind of
// path and link, inside the folder and out of it.
#include "webserver/document_path.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace webserver;

namespace {

void touch(const QString& path, const QByteArray& bytes = "x") {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

void link(const QString& target, const QString& at) {
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()),
              0);
}

} // namespace

TEST(DocumentOpen, FolderDescriptorAnswersAsTheFullCheck) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString docDir = root.path() + "/doc";
    ASSERT_TRUE(QDir().mkpath(docDir + "/sub"));
    touch(root.path() + "/secret.txt", "secret");
    touch(docDir + "/page.htm", "page");
    touch(docDir + "/sub/inner.htm", "inner");
    ASSERT_EQ(::mkfifo(QFile::encodeName(docDir + "/pipe").constData(), 0600), 0);
    link("../secret.txt", docDir + "/up.txt");              // relative, out
    link(root.path() + "/secret.txt", docDir + "/abs.txt"); // absolute, out
    link(docDir + "/page.htm", docDir + "/abs-in.htm");     // absolute, in
    link("../page.htm", docDir + "/sub/back.htm");          // relative up, still in
    link("sub", docDir + "/alias");                         // folder link, in
    link("..", docDir + "/parent");                         // folder link, out
    link("missing.htm", docDir + "/dangling.htm");

    const QString canonical = QDir(docDir).canonicalPath();
    const int folder = openDocumentFolder(docDir);
    ASSERT_GE(folder, 0);
    struct Case {
        const char* relative;
        OpenResult expected;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"page.htm", OpenResult::Opened, "page"},
        {"sub/inner.htm", OpenResult::Opened, "inner"},
        {"abs-in.htm", OpenResult::Opened, "page"},
        {"sub/back.htm", OpenResult::Opened, "page"},
        {"alias/inner.htm", OpenResult::Opened, "inner"},
        {"up.txt", OpenResult::Outside, {}},
        {"abs.txt", OpenResult::Outside, {}},
        {"parent/secret.txt", OpenResult::Outside, {}},
        {"parent/doc/page.htm", OpenResult::Opened, "page"},
        {"pipe", OpenResult::NotAFile, {}},
        {"sub", OpenResult::NotAFile, {}},
        {"sub/", OpenResult::NotAFile, {}},
        {"none.htm", OpenResult::Missing, {}},
        {"dangling.htm", OpenResult::Missing, {}},
    };
    for (const Case& c : cases) {
        const QString path = docDir + "/" + c.relative;
        for (const bool throughFolder : {false, true}) {
            OpenedDocument opened;
            const OpenResult result =
                throughFolder ? openDocument(path, canonical, &opened, folder, docDir.size() + 1)
                              : openDocument(path, canonical, &opened);
            EXPECT_EQ(result, c.expected) << c.relative << (throughFolder ? " (folder)" : "");
            if (result != OpenResult::Opened)
                continue;
            char buffer[16] = {};
            const ssize_t got = ::read(opened.fd, buffer, sizeof buffer);
            EXPECT_EQ(QByteArray(buffer, int(std::max<ssize_t>(got, 0))), c.bytes) << c.relative;
            EXPECT_EQ(opened.size, c.bytes.size());
            ::close(opened.fd);
        }
    }
    ::close(folder);
}
