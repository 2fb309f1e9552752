#pragma once
// The station's two sizes: the units it can hold, and the rows of a page of the main window.

inline constexpr int UnitSlots = 100;
inline constexpr int RowsPerPage = 30;
