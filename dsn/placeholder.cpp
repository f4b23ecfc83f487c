namespace dsn {}
