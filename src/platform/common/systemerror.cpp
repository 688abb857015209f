#include "brumlis/platform/systemerror.h"

#include "brumlis/text/text.h"

#include <cerrno>

namespace brumlis {

std::u16string systemErrorText(int error) {
    switch (error) {
    case ENOENT:
        return u"filen eller mappen finns inte";
    case EACCES:
    case EPERM:
        return u"åtkomst nekas";
    case ENOSPC:
        return u"disken är full";
#ifdef EDQUOT
    case EDQUOT:
        return u"diskkvoten är slut";
#endif
    case EPIPE:
        return u"röret är stängt: ingen läser längre";
    case EROFS:
        return u"filsystemet är skrivskyddat";
    case EMFILE:
    case ENFILE:
        return u"för många öppna filer";
    case ENOTDIR:
        return u"en del av sökvägen är ingen mapp";
    case EISDIR:
        return u"är en mapp";
    case EEXIST:
        return u"finns redan";
    case ENOTEMPTY:
        return u"mappen är inte tom";
    case EIO:
        return u"läs- eller skrivfel på enheten";
    case ENAMETOOLONG:
        return u"namnet är för långt";
    case EFBIG:
        return u"filen blir för stor";
    case ELOOP:
        return u"för många symboliska länkar i sökvägen";
    case ENXIO:
        return u"ingen läser i andra änden";
    case ENODEV:
        return u"ingen sådan enhet";
    case ENOMEM:
        return u"minnet räcker inte";
    case EBUSY:
    case ETXTBSY:
        return u"filen används";
    case EXDEV:
        return u"kan inte flyttas till ett annat filsystem";
    case EINVAL:
        return u"går inte att göra med den här filen";
    case EAGAIN:
        return u"inte tillgänglig just nu";
    case EBADF:
        return u"filen är inte öppen för det";
    default:
        return u"systemfel " + number(error);
    }
}

} // namespace brumlis
