// Where the viewer works and where it finds its library. The viewer keeps its lists and its
// gallery in the current folder. Started from an installed tree (the program in <prefix>/bin,
// beside <prefix>/share/spiralis) it works in the user's data folder, $XDG_DATA_HOME/spiralis
// (~/.local/share/spiralis), which it seeds from the tree's starter lists and gallery; started
// from anywhere else, a build folder say, it works in the folder it was started in.
#ifndef SPIRALIS_WORKFOLDER_H
#define SPIRALIS_WORKFOLDER_H

#include <QString>
#include <string>
#include <vector>

// <prefix>/share/spiralis when programFolder is the bin/ folder of an installed tree, else empty.
QString InstalledDataFolder(const QString &programFolder);

// The folders libquob32.so is looked for in, in order: the program's own folder, then the
// installed tree's private library folder <prefix>/lib/spiralis.
std::vector<std::string> LibraryFolders(const QString &programFolder);

// Gives work each starter list of data ("fractals.dat", "cadjusts.dat", "hotspots.dat") that it
// lacks and work/gallery each PNG of data/gallery that it lacks; a file that exists is never
// touched, and each copy is written whole or not at all. False with a sentence in error when a
// folder cannot be made or a file cannot be copied (the others are still copied).
bool SeedWorkFolder(const QString &data, const QString &work, QString &error);

// For an installed program: seeds the user's data folder and makes it the current folder. A
// program that is not installed stays in its current folder. False with a sentence in error when
// the folder cannot be seeded or entered.
bool EnterWorkFolder(const QString &programFolder, QString &error);

#endif  // SPIRALIS_WORKFOLDER_H
