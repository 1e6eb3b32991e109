// What a controller job asks of whoever runs it (a dialog, the command line, a test).
#pragma once
