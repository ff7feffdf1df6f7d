# The maker's hosts, built into the launcher. A campaign's own installation overrides each with a
# key of kvd\prog.cfg ("GameServer", "WebSite", "ScoreServer", "MailServer", "MailTo").
set(ZOLVEX_GAME_SERVER "www.brightmoor.example" CACHE STRING "The maker's game server (www form)")
set(ZOLVEX_WEB_SITE "www.vantor.example" CACHE STRING "The campaign's web site")
set(ZOLVEX_SCORE_SERVER "www.brightmoor.example" CACHE STRING "The highscore server")
set(ZOLVEX_MAIL_SERVER "mail.brightmoor.example" CACHE STRING "The mail server for error reports")
set(ZOLVEX_MAIL_TO "zolvex@brightmoor.example" CACHE STRING "The mailbox that receives error reports")

function(zolvex_host_definitions target)
  target_compile_definitions(${target} PRIVATE
    ZOLVEX_GAME_SERVER="${ZOLVEX_GAME_SERVER}"
    ZOLVEX_WEB_SITE="${ZOLVEX_WEB_SITE}"
    ZOLVEX_SCORE_SERVER="${ZOLVEX_SCORE_SERVER}"
    ZOLVEX_MAIL_SERVER="${ZOLVEX_MAIL_SERVER}"
    ZOLVEX_MAIL_TO="${ZOLVEX_MAIL_TO}")
endfunction()
