// What the page hears of an update's trial.
#pragma once

// The page has loaded: the program works, so a trial it is on has passed. The first
// time in this process, an update rolled back before this start is reported as an
// "ota" error stage.
void ReportPageUp();
