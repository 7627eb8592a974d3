# Writes the Scoop manifest of the release zip. Run by the scoop-manifest target (tools/dev package) once the
# zip is made, and by the check of the manifest. Arguments: -DZIP (the zip), -DOUT (the manifest to write),
# -DVERSION, -DPACKAGE (the zip's top folder, its name without .zip), -DURL_TEMPLATE (where releases are
# published, "$version" standing for the version), -DPERSIST (the folders an update must keep, ";"-separated).
cmake_minimum_required(VERSION 3.16)

if(NOT EXISTS "${ZIP}")
    message(FATAL_ERROR "No ${ZIP} to describe: make the package first")
endif()
file(SHA256 "${ZIP}" hash)
string(REPLACE "$version" "${VERSION}" url "${URL_TEMPLATE}")
string(REPLACE "${VERSION}" "$version" extractTemplate "${PACKAGE}")

# Every text here is the program's own (a version, a hash, an address, folder names): none needs escaping
# beyond the backslash of a folder path.
set(persist)
foreach(folder IN LISTS PERSIST)
    string(REPLACE "/" "\\\\" folder "${folder}")
    list(APPEND persist "\"${folder}\"")
endforeach()
string(REPLACE ";" ", " persist "${persist}")

file(WRITE "${OUT}.tmp" "{
    \"version\": \"${VERSION}\",
    \"description\": \"Shows and controls the programs that start when you log on; bwcli lists and switches them from scripts\",
    \"url\": \"${url}\",
    \"hash\": \"${hash}\",
    \"extract_dir\": \"${PACKAGE}\",
    \"bin\": \"bwcli.exe\",
    \"shortcuts\": [[\"Bootwarden.exe\", \"Bootwarden\"]],
    \"persist\": [${persist}],
    \"autoupdate\": {
        \"url\": \"${URL_TEMPLATE}\",
        \"extract_dir\": \"${extractTemplate}\"
    }
}
")
file(RENAME "${OUT}.tmp" "${OUT}")
message(STATUS "Scoop manifest: ${OUT}")
