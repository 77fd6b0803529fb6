/* Runs the fuzz target over saved inputs in a build without libFuzzer:
 *   h265d_fuzz_replay FILE|DIR... */
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static bool replayFile(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> d;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        d.insert(d.end(), buf, buf + n);
    fclose(f);
    fprintf(stderr, "replay %s (%zu bytes)\n", path.c_str(), d.size());
    LLVMFuzzerTestOneInput(d.data(), d.size());
    return true;
}

int main(int argc, char **argv)
{
    int count = 0;
    for (int i = 1; i < argc; i++) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        std::vector<std::string> files;
        if (S_ISDIR(st.st_mode)) {
            DIR *d = opendir(argv[i]);
            if (!d) {
                fprintf(stderr, "cannot read %s\n", argv[i]);
                return 1;
            }
            while (dirent *e = readdir(d))
                if (e->d_name[0] != '.')
                    files.push_back(std::string(argv[i]) + "/" + e->d_name);
            closedir(d);
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(argv[i]);
        }
        for (const std::string &f : files) {
            if (!replayFile(f)) {
                fprintf(stderr, "cannot read %s\n", f.c_str());
                return 1;
            }
            count++;
        }
    }
    fprintf(stderr, "%d input(s) replayed\n", count);
    return count > 0 ? 0 : 1;
}
