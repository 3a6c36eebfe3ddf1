// msxlate: miniSEED files into KIV files.
#include "msxlate/msxlate.h"

int main(int argc, char** argv) {
    return kivf::msx::run(argc, argv);
}
