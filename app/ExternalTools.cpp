#include "app/ExternalTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#include "app/DetachedProcess.h"

namespace {

// The folder of the running program, from the kernel's link to its executable (not
// argv[0], not the current folder). Empty when the link cannot be read.
QString ProgramFolder()
{
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || exe.empty())
        return {};
    return QFile::decodeName(exe.parent_path().c_str());
}

// `file` as an absolute, cleaned path, so that a name starting with "-" can never be
// taken for an option by the program that receives it. Empty stays empty.
QString AbsoluteArgument(const QString& file)
{
    if (file.isEmpty())
        return {};
    return QFileInfo(file).absoluteFilePath();
}

std::string Local(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// xdg-open of one absolute path; xdg-open itself is found in PATH like any desktop
// tool, the document is passed as its single argument.
bool OpenWithDesktop(const QString& file)
{
    const QString path = AbsoluteArgument(file);
    if (path.isEmpty())
        return false;
    return detached::Start("xdg-open", {Local(path)}, /*searchPath=*/true);
}

bool StartEncodingWizard(const QString& currentFile)
{
    const QString folder = ProgramFolder();
    if (folder.isEmpty())
        return false;
    const QString program = folder + QStringLiteral("/remuxer");
    std::vector<std::string> arguments;
    const QString path = AbsoluteArgument(currentFile);
    if (!path.isEmpty())
        arguments.push_back(Local(path));
    return detached::Start(Local(program), arguments);
}

}  // namespace

QString InstallFolder()
{
    const QString overridden = qEnvironmentVariable("TAVREC_INSTALL_DIR");
    if (!overridden.isEmpty())
        return QDir::cleanPath(overridden);
    const QString folder = ProgramFolder();
    if (folder.isEmpty())
        return {};
    return QDir::cleanPath(folder + QStringLiteral("/../share/tavrec"));
}

QString InstallFilePath(const QString& fileName)
{
    const QString folder = InstallFolder();
    if (folder.isEmpty())
        return fileName;
    return folder + QLatin1Char('/') + fileName;
}

// The results are not shown: a wizard, viewer or player that does not start leaves
// the recorder as it was.
void LaunchEncodingWizard(const QString& currentFile)
{
    (void)StartEncodingWizard(currentFile);
}

void OpenOnlineHelp()
{
    (void)OpenWithDesktop(InstallFilePath(QStringLiteral("TavrecHelp.html")));
}

void OpenInMediaPlayer(const QString& file)
{
    (void)OpenWithDesktop(file);
}
