#pragma once
// The file a recording or a build writes its frames into until it ends:
// created beside the output (so that moving it into place replaces the
// output at once), with a name that says it is unfinished. An existing
// file of the output's name is left alone until there are frames to put
// in its place.
#include <QByteArray>
#include <QString>

namespace recording {

// "take one.avi" -> "take one.avi.unfinished".
QString unfinishedName(const QString& outputFile);

class UnfinishedFile {
 public:
  // Creates the file (never over another one: a file left by a recording
  // or build that was killed may hold frames, so the next free name
  // "NAME.unfinished-2" ... is taken). It gets the permissions of the
  // output it will replace.
  explicit UnfinishedFile(const QString& outputFile);
  // Removes the file unless it was kept.
  ~UnfinishedFile();
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;

  bool created() const { return !path_.isEmpty(); }
  // Why it could not be created, or why keep() could not move it (errno).
  int error() const { return errno_; }
  QString path() const;
  // The file the output name stands for (a link's target: a link stays a link).
  QString target() const;

  // Called once the writer has let go of the file: moves it over the
  // output. Where the frames are now: the output, or the unfinished file
  // when it could not be moved (error() says why).
  QString keep();

 private:
  QByteArray target_;
  QByteArray path_;
  int errno_ = 0;
};

}  // namespace recording
