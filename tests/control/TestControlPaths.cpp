#include "TestEnvironment.h"

#include "control/ControlPaths.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

class TestControlPaths : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
        m_runtime = m_env->path(u"run"_s);
        QVERIFY(QDir().mkpath(m_runtime));
    }

    // Two configurations never share a lock; one configuration reached through
    // a symlinked folder is the same one.
    void onePerConfiguration()
    {
        const QString a = m_env->path(u"a/wardlamp/wardlamp.conf"_s);
        const QString b = m_env->path(u"b/wardlamp/wardlamp.conf"_s);
        const auto pathsA = ControlPaths::resolve(a, environment());
        const auto pathsB = ControlPaths::resolve(b, environment());
        QVERIFY(pathsA && pathsB);
        QVERIFY(pathsA->key != pathsB->key);
        QVERIFY(pathsA->socketFile != pathsB->socketFile);
        QCOMPARE(pathsA->directory, m_runtime + u"/wardlamp"_s);
        QCOMPARE(pathsA->lockFile, pathsA->directory + u'/' + pathsA->key + u".lock"_s);
        QCOMPARE(pathsA->socketFile, pathsA->directory + u'/' + pathsA->key + u".sock"_s);
        QCOMPARE(pathsA->key.size(), 16);

        QVERIFY(QFile::link(m_env->path(u"a"_s), m_env->path(u"link"_s)));
        const auto viaLink = ControlPaths::resolve(m_env->path(u"link/wardlamp/wardlamp.conf"_s), environment());
        QVERIFY(viaLink);
        QCOMPARE(viaLink->key, pathsA->key);
        QCOMPARE(viaLink->settingsFile, pathsA->settingsFile);
    }

    void folderIsMadePrivate()
    {
        const QString directory = m_env->path(u"loose"_s);
        QVERIFY(QDir().mkpath(directory));
        QVERIFY(::chmod(QFile::encodeName(directory).constData(), 0777) == 0);
        QCOMPARE(ControlPaths::makePrivate(directory), std::nullopt);
        struct stat info { };
        QCOMPARE(::stat(QFile::encodeName(directory).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
    }

    void refusedFolders()
    {
        const QString target = m_env->path(u"target"_s);
        QVERIFY(QDir().mkpath(target));
        const QString symlink = m_env->path(u"symlinked"_s);
        QVERIFY(QFile::link(target, symlink));
        const auto problem = ControlPaths::makePrivate(symlink);
        QVERIFY(problem);
        QVERIFY2(problem->contains(u"not a directory"_s), qPrintable(*problem));

        const QString file = m_env->path(u"plain-file"_s);
        QFile(file).open(QIODevice::WriteOnly);
        QVERIFY(ControlPaths::makePrivate(file));

        if (::geteuid() != 0)
            QSKIP("needs root to give a folder to another user");
        const QString foreign = m_env->path(u"foreign"_s);
        QVERIFY(QDir().mkpath(foreign));
        QVERIFY(::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);
        const auto foreignProblem = ControlPaths::makePrivate(foreign);
        QVERIFY(foreignProblem);
        QVERIFY2(foreignProblem->contains(u"belongs to another user"_s), qPrintable(*foreignProblem));
    }

    // A runtime folder that is unset, relative, or taken by someone else gives
    // way to the private folder in /tmp.
    void fallsBackWithoutARuntimeFolder()
    {
        const QString fallback = u"/tmp/wardlamp-"_s + QString::number(::geteuid());
        for (const QString& runtime : { QString(), u"relative/run"_s }) {
            QProcessEnvironment env;
            if (!runtime.isNull())
                env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
            QCOMPARE(ControlPaths::candidateDirectories(env), QStringList { fallback });
        }
        const auto paths = ControlPaths::resolve(m_env->path(u"c/wardlamp.conf"_s), QProcessEnvironment());
        QVERIFY2(paths, paths ? "" : qPrintable(paths.error()));
        QCOMPARE(paths->directory, fallback);

        if (::geteuid() != 0)
            return;
        QProcessEnvironment env;
        const QString taken = m_env->path(u"taken"_s);
        QVERIFY(QDir().mkpath(taken + u"/wardlamp"_s));
        QVERIFY(::chown(QFile::encodeName(taken + u"/wardlamp"_s).constData(), 65534, 65534) == 0);
        env.insert(u"XDG_RUNTIME_DIR"_s, taken);
        const auto aside = ControlPaths::resolve(m_env->path(u"d/wardlamp.conf"_s), env);
        QVERIFY(aside);
        QCOMPARE(aside->directory, fallback);
    }

private:
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert(u"XDG_RUNTIME_DIR"_s, m_runtime);
        return env;
    }

    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
    QString m_runtime;
};

QTEST_GUILESS_MAIN(TestControlPaths)
#include "TestControlPaths.moc"
