#pragma once
// Where the program's own files are: the help file and the "lists" and "message" folders.
// Beside the program when the help file is there (the build folder, a copied folder); else,
// for a program installed under a prefix (bin/), the data folder share/quillcast of that
// prefix when the help file is there; else beside the program. Raises nothing.
#include <string>

std::string ProgramFolder(const std::string& ProgramDir);
