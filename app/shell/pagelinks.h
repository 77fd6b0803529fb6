#pragma once

namespace shell {

// Hands each page what it opens of another page: the pages do not link one
// another, only the shell links them all. Called once before the first page
// is created.
void linkPages();

} // namespace shell
