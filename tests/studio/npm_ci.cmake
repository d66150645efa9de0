# Installs the studio's npm packages (studio/package-lock.json) into a work
# folder, as CI installs them, for the Node.js tests that need one of them:
#   cmake -DWEB=studio -DWORK=<folder> -DNPM=npm -P tests/studio/npm_ci.cmake
# No browser is downloaded (the browser tests drive Debian's).
file(MAKE_DIRECTORY ${WORK})
foreach(name IN ITEMS package.json package-lock.json)
    file(COPY_FILE ${WEB}/${name} ${WORK}/${name} ONLY_IF_DIFFERENT)
endforeach()
set(ENV{PUPPETEER_SKIP_DOWNLOAD} 1)
execute_process(COMMAND ${NPM} ci --no-audit --no-fund --loglevel=error
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "npm ci in ${WORK} failed (${status})")
endif()
