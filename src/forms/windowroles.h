#pragma once

namespace brumlis {

/// Makes the accessibility tree announce Brumform as a window and About as a dialog;
/// a plain QWidget top level would be reported as a client area. Safe to call often.
void installWindowRoles();

} // namespace brumlis
